// The outcome of a dialogue: the approved "result" built from the confirmed responses, registered
// with the sales API and sent to the client; the receipt copies as the component prints them; the
// answers about the (absent) fiscal printer.
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/DateTime.h"
#include "protocol/Convert.h"
#include "protocol/DmSitef.h"
#include "protocol/PaymentEvents.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::protocol {
namespace {

constexpr platform::TDateTime kUmaHora = 1.0 / 24;

// The copies of a response's receipt that have lines: copy 1, then copy 2.
Json ReceiptCopies(const tef::TKoCliSiTefResp& pResp) {
  Json copies = Json::array();
  const auto add = [&copies](int32_t via, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    Json copy = Json::object();
    copy["copy_number"] = via;
    copy["data"] = lines;
    copies.push_back(std::move(copy));
  };
  add(1, pResp.ImagemComprovante1aVia());
  add(2, pResp.ImagemComprovante2aVia());
  return copies;
}

// An amount as the printer would show it: at least two digits before the comma, two after.
std::string ValorECF(platform::Currency valor) {
  std::string texto = valor.ToText2();
  const size_t inicio = texto.front() == '-' ? 1 : 0;
  if (texto.find(',') - inicio < 2) texto.insert(inicio, "0");
  return texto;
}

// The sale a leftover's backup names; the current one when it names none (an older backup).
int32_t SaleOfLeftover(const tef::TKoCliSiTefResp& pResp, int32_t pVenda_Id) {
  try {
    return pResp.DocumentoAplicacao().empty() ? pVenda_Id : StrToInt(pResp.DocumentoAplicacao());
  } catch (const EConvertError&) {
    return pVenda_Id;
  }
}

}  // namespace

std::string TDmSitef::TransactionDateTimeUTC(platform::TDateTime pLocal) {
  std::optional<platform::TDateTime> utc = platform::LocalToUTC(pLocal);
  if (!utc) {
    // The host's clock named a moment skipped when the clocks went forward; read it with the
    // offset that follows the gap rather than lose the outcome of a confirmed payment.
    utc = platform::LocalToUTC(pLocal + kUmaHora);
    if (utc) *utc -= kUmaHora;
  }
  return platform::FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss\"Z\"", utc.value_or(pLocal));
}

// A cancellation is marked by "operation" "cancellation" alone, in the place of the payment's kind
// (the key occurs once, as JSON requires); "operator" keeps its place after "card_number". It is
// recognised by the request that ran it or, for a record read back from a backup, by the original
// NSU that only a cancellation dialogue stores. "establishment_code" carries the merchant code of
// field 157, which is what the name says; the authorization code has its own key.
Json TDmSitef::BuildTransactionElement(const tef::TKoCliSiTefResp& pResp, int32_t pVenda_Id,
                                       const std::string& pPayerName, TTipoTransacao pTipo) {
  Json element = Json::object();
  // A payment left by an earlier process belongs to the sale it was made for, which its backup
  // keeps, not to the sale of the session that happens to confirm it.
  element["sale_id"] = pResp.Pendente() ? SaleOfLeftover(pResp, pVenda_Id) : pVenda_Id;
  const std::string& indice = pResp.IndiceFPG_ECF();
  if (pTipo == ttReimpressao || indice == "113" || indice == "114") {
    element["operation"] = "reprint";
    element["receipt"] = ReceiptCopies(pResp);
    return element;
  }

  const bool cartao = pResp.Debito() || pResp.Credito();
  if (pTipo == ttCancelamento || !pResp.NSUTransacaoCancelada().empty()) {
    element["operation"] = "cancellation";
  } else {
    element["operation"] = pResp.Debito() ? "debit" : pResp.Credito() ? "credit" : "pix";
  }
  if (cartao) element["card_number"] = pResp.NumeroCartao();
  element["operator"] = pResp.Rede();
  // The payer of a leftover is not known any more: the request running now is another one.
  element["payer_name"] = pResp.Pendente() ? std::string() : pPayerName;
  element["institution"] = pResp.Instituicao();
  element["payment_method_code"] = pResp.ModalidadePagto();
  element["payment_method_description"] = pResp.ModalidadePagtoDescrita();
  element["hash"] = pResp.CodigoHASH();
  element["nsu_code"] = pResp.NSUComprovante();
  element["authorization_code"] = pResp.CodigoAutorizacaoTransacao();
  element["establishment_code"] = pResp.CodigoEstabelecimento();
  element["number_of_installments"] = pResp.QtdParcelas();
  element["transaction_value"] = static_cast<double>(pResp.ValorTotal().Raw()) / 10000.0;
  element["transaction_date_time"] = TransactionDateTimeUTC(pResp.DataHoraTransacaoHost());
  element["gateway"] = "Software Express";
  element["receipt"] = ReceiptCopies(pResp);
  return element;
}

// The component fires this only after the library has confirmed the payments, so the client and
// the sales API are told they were approved whatever else happened meanwhile: a cancellation that
// arrived after the library's last interruption check can no longer undo them, and is only logged.
// fConcluido is set first, so that no failure below can make the request report a confirmed
// payment as refused or reverse it.
//
// Each response is reported to the sales API of its own sale: leftovers of an earlier process may
// belong to several sales systems, and each gets one outcome message with its own responses (the
// client receives them all). Without any response, the one message goes to the operation's API.
void TDmSitef::KoCliSiTefDepoisConfirmarTransacoes(
    tef::TKoCliSiTefRespostasPendentes& RespostasPendentes) {
  fConcluido = true;
  if (fCancelado.exchange(false)) {
    Log("Cancelamento ignorado: a transação já foi confirmada pelo SiTef.");
  }
  // One message per sales API and per operation: a leftover of an earlier process is told to the
  // page as its own operation's, never mixed with the operation running now.
  struct TGrupo {
    TSaleData Venda;
    std::string Operacao;
    std::vector<int> Indices;
  };
  std::vector<TGrupo> grupos;
  for (int i = 0; i < RespostasPendentes.Count(); ++i) {
    const tef::TKoCliSiTefResp& resp = RespostasPendentes.GetObject(i);
    const TSaleData venda = SaleOfResponse(resp);
    const std::string operacao = OperationOfResponse(resp);
    const auto grupo = std::find_if(grupos.begin(), grupos.end(), [&](const TGrupo& g) {
      return g.Venda.CallbackURL == venda.CallbackURL && g.Venda.Empresa_Id == venda.Empresa_Id &&
             g.Operacao == operacao;
    });
    if (grupo == grupos.end()) {
      grupos.push_back({venda, operacao, {i}});
    } else {
      grupo->Indices.push_back(i);
    }
  }
  if (grupos.empty()) grupos.push_back({fVendaEmCurso, fOperacaoEmCurso.Id, {}});
  for (const TGrupo& grupo : grupos) {
    ReportConfirmedGroup(RespostasPendentes, grupo.Indices, grupo.Venda, grupo.Operacao);
  }
}

std::string TDmSitef::OperationOfResponse(const tef::TKoCliSiTefResp& pResp) const {
  if (!pResp.OperacaoAplicacao().empty()) return pResp.OperacaoAplicacao();
  // A record that derives no properties of its own still carries the field.
  const std::string gravada =
      platform::FromAnsi(tef::DecodificaHex(pResp.LeInformacao(899, 110).AsString()));
  if (!gravada.empty() || pResp.Pendente()) return gravada;
  return fOperacaoEmCurso.Id;
}

TSaleData TDmSitef::SaleOfResponse(const tef::TKoCliSiTefResp& pResp) const {
  if (!pResp.Pendente()) return fVendaEmCurso;
  TSaleData venda = fVendaEmCurso;
  venda.Venda_Id = SaleOfLeftover(pResp, fVendaEmCurso.Venda_Id);
  if (!pResp.EnderecoRetornoAplicacao().empty()) {
    venda.CallbackURL = pResp.EnderecoRetornoAplicacao();
    try {
      venda.Empresa_Id = StrToInt(pResp.EmpresaAplicacao());
    } catch (const EConvertError&) {
      // A backup that names its API but no readable company: the API learns the payment all the
      // same, with company 0, rather than being told another sale's company.
      venda.Empresa_Id = 0;
    }
  }
  return venda;
}

void TDmSitef::ReportConfirmedGroup(const tef::TKoCliSiTefRespostasPendentes& pRespostas,
                                    const std::vector<int>& pIndices, const TSaleData& pSale,
                                    const std::string& pOperacao) {
  Json elements = Json::array();
  for (const int i : pIndices) {
    elements.push_back(
        BuildTransactionElement(pRespostas.GetObject(i), pSale.Venda_Id, fPayerName, fTipoEmCurso));
  }
  Json message = Json::object();
  message["type"] = "result";
  message["status"] = "approved";
  message["message"] = "Transação TEF concluída com sucesso.";
  message["transaction_data"] = std::move(elements);
  ReportConfirmedPayments(FService.Events(), pRespostas, pIndices, message["transaction_data"]);
  const bool sobra = !pIndices.empty() && pRespostas.GetObject(pIndices.front()).Pendente();
  const std::optional<TJournalOperation> operacao =
      pOperacao.empty() ? std::nullopt : fJournal.Find(pOperacao);
  // Recorded before the sales API is called, which may take a minute: a page that asks meanwhile
  // learns that its payment is charged.
  if (operacao) {
    TJournalEvent confirmada("confirmed");
    confirmada.CompanyId = pSale.Empresa_Id;
    confirmada.Result = message;
    fJournal.Record(pOperacao, confirmada);
  }
  std::string eventoRelatorio;
  const bool aceito = SendSaleCallback(message, pSale, &eventoRelatorio);
  if (operacao) {
    if (aceito) {
      const Json& primeiro = message["transaction_data"].empty()
                                 ? Json::object()
                                 : message["transaction_data"].front();
      const auto id = primeiro.find("payment_id");
      TJournalEvent relatada("reported");
      relatada.PaymentId = id != primeiro.end() && id->is_number_integer() ? id->get<int64_t>() : 0;
      fJournal.Record(pOperacao, relatada);
    } else {
      TJournalEvent pendente("report_pending");
      pendente.ReportEventId = eventoRelatorio;
      fJournal.Record(pOperacao, pendente);
    }
  }
  // What the page gets besides the outcome: the key of its operation and, for a payment an
  // earlier process left, that it is such a leftover and of which sale.
  const std::string chave = operacao ? operacao->Key : std::string();
  if (sobra) {
    message["sale_id"] = pSale.Venda_Id;
    if (!chave.empty()) message["idempotency_key"] = chave;
    message["recovered"] = true;
    fRecuperadas.push_back({pSale.Venda_Id, chave});
  } else if (!chave.empty()) {
    message["idempotency_key"] = chave;
  }
  if (FIdContext != nullptr) {
    AnnounceCancelEnded();
    SendJson(*FIdContext, message);
  }
}

void TDmSitef::KoCliSiTefComandaECFImprimeVia(tef::TKoCliSiTefTipoRelatorio, int32_t Via,
                                              const std::vector<std::string>& ImagemComprovante,
                                              int32_t& RetornoECF) {
  RetornoECF = 1;
  if (FIdContext == nullptr) return;
  try {
    Json receipt = Json::object();
    receipt["type"] = "receipt";
    receipt["copy_number"] = Via;
    receipt["data"] = ImagemComprovante;
    SendJson(*FIdContext, receipt);
  } catch (const std::exception&) {
    // The copy counts as printed all the same: the outcome carries every receipt again.
  }
}

// The printer is busy ("R") while the CliSiTef (or VeSPague) gateway is not initialised, free
// ("L") otherwise; the subtotal and the amount to pay are the transaction's amount.
void TDmSitef::KoCliSiTefInfoECF(tef::TKoCliSiTefInfoECF Operacao, std::string& RetornoECF) {
  const tef::TKoCliSiTefTipo gp = KoCliSiTef.GPAtual();
  if (Operacao == tef::ineEstadoECF && (gp == tef::gpCliSiTef || gp == tef::gpVeSPague) &&
      !KoCliSiTef.TEFCliSiTef().Inicializado()) {
    RetornoECF = "R";
    return;
  }
  switch (Operacao) {
    case tef::ineEstadoECF:
      RetornoECF = "L";
      break;
    case tef::ineSubTotal:
    case tef::ineTotalAPagar:
      RetornoECF = ValorECF(fValorTransacao);
      break;
  }
}

}  // namespace kelvora::protocol
