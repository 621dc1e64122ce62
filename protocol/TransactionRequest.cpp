// The "/transaction" request: its validation, the values it leaves in the data module, and the one
// CRT call that runs a payment, the cancellation of an earlier payment or a receipt reprint, with
// the failure result of a dialogue that ends without a confirmed payment.
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "protocol/Convert.h"
#include "protocol/DmSitef.h"
#include "protocol/PaymentEvents.h"
#include "protocol/TransactionMetrics.h"
#include "service/ByteStream.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::protocol {
namespace {

// A request the handler refuses with one of its own texts.
class ETransactionRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a valid request asks for, read before anything is stored.
struct TTransactionRequest {
  TTipoTransacao Tipo = ttNenhum;
  int32_t Operacao = 0;
  std::string PayerName;
  std::string NSU;
  platform::TDateTime Data = 0;
  std::optional<int32_t> Venda_Id;
  platform::Currency Valor;
  int32_t QtdParcelas = 0;
  std::string Chave;  // the page's idempotency key; empty when it sent none
};

// Empty, or only blanks and control characters.
bool EmBranco(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

bool SoDigitos(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

int Numero(std::string_view digits) {
  return std::atoi(std::string(digits).c_str());
}

// Steps 1 to 6 of the request: every refusal raises with the text the client is answered with.
TTransactionRequest ReadTransactionRequest(const Json& pContent) {
  TTransactionRequest pedido;
  const std::string type = GetRequiredField(pContent, "type");
  if (type == "transaction") {
    pedido.Tipo = ttTransacao;
  } else if (type == "cancellation") {
    pedido.Tipo = ttCancelamento;
  } else if (type == "reprint") {
    pedido.Tipo = ttReimpressao;
  } else {
    throw ETransactionRequest("O campo type diferente de transaction");
  }
  pedido.Operacao = StrToInt(GetRequiredField(pContent, "operation"));
  if (pedido.Tipo == ttTransacao) pedido.PayerName = GetRequiredField(pContent, "payer_name");
  if (pedido.Tipo == ttCancelamento) {
    pedido.NSU = GetRequiredField(pContent, "cancellation_nsu");
    if (EmBranco(pedido.NSU)) {
      throw ETransactionRequest("O campo \"cancellation_nsu\" não foi preenchido.");
    }
    const std::string data = GetRequiredField(pContent, "transaction_date");
    if (EmBranco(data)) {
      throw ETransactionRequest("O campo \"transaction_date\" não foi preenchido.");
    }
    const std::optional<platform::TDateTime> lida =
        TDmSitef::ParseTransactionDate(TDmSitef::FormatTransactionDate(data));
    if (!lida) {
      throw ETransactionRequest("O campo \"transaction_date\" não foi preenchido corretamente.");
    }
    pedido.Data = *lida;
  }
  if (pedido.Tipo != ttReimpressao) {
    if (pContent.contains("sale_id")) {
      pedido.Venda_Id = StrToInt(GetRequiredField(pContent, "sale_id"));
    }
    if (pContent.contains("transaction_value")) {
      pedido.Valor = StrToCurrency(GetRequiredField(pContent, "transaction_value"));
    }
    if (pContent.contains("number_of_installments")) {
      pedido.QtdParcelas = StrToInt(GetRequiredField(pContent, "number_of_installments"));
    }
    if (pContent.contains("idempotency_key")) {
      pedido.Chave = IdempotencyKeyOf(pContent.at("idempotency_key"));
    }
  }
  return pedido;
}

// The number of instalments as CRT takes it: at least two digits ("00", "03", "12").
std::string DoisDigitos(int32_t n) {
  std::string digitos = std::to_string(n < 0 ? -static_cast<int64_t>(n) : n);
  if (digitos.size() < 2) digitos.insert(0, "0");
  return n < 0 ? "-" + digitos : digitos;
}

// Holds fProcessando for the request that claimed it and clears it when that request ends,
// however it ends.
class TReservaProcessando {
 public:
  explicit TReservaProcessando(std::atomic<bool>& flag) : fFlag(flag) {}
  ~TReservaProcessando() { fFlag = false; }
  TReservaProcessando(const TReservaProcessando&) = delete;
  TReservaProcessando& operator=(const TReservaProcessando&) = delete;

 private:
  std::atomic<bool>& fFlag;
};

// Runs its action when the request ends, however it ends; a failure of the action is dropped (a
// backup it could not record stays on disk for the next start-up).
class TAoTerminar {
 public:
  explicit TAoTerminar(std::function<void()> acao) : fAcao(std::move(acao)) {}
  ~TAoTerminar() {
    try {
      fAcao();
    } catch (...) {
    }
  }
  TAoTerminar(const TAoTerminar&) = delete;
  TAoTerminar& operator=(const TAoTerminar&) = delete;

 private:
  std::function<void()> fAcao;
};

}  // namespace

std::string TDmSitef::FormatTransactionDate(std::string_view pText) {
  if (pText.empty()) return "Formato inválido";
  std::vector<std::string_view> partes;
  for (size_t inicio = 0;;) {
    const size_t espaco = pText.find(' ', inicio);
    partes.push_back(pText.substr(inicio, espaco - inicio));
    if (espaco == std::string_view::npos) break;
    inicio = espaco + 1;
  }
  const std::string_view data = partes[0];
  if (data.size() != 10) return "Formato de data inválido";
  std::string resultado = std::string(data.substr(8, 2)) + "/" + std::string(data.substr(5, 2)) +
                          "/" + std::string(data.substr(0, 4));
  if (partes.size() > 1) {
    const std::string_view hora = partes[1];
    if (hora.size() < 8) return resultado + " Formato de hora inválido";
    resultado += " " + std::string(hora.substr(0, 2)) + ":" + std::string(hora.substr(3, 2)) + ":" +
                 std::string(hora.substr(6, 2));
  }
  return resultado;
}

std::optional<platform::TDateTime> TDmSitef::ParseTransactionDate(std::string_view pText) {
  const bool comHora = pText.size() == 19;
  if ((pText.size() != 10 && !comHora) || pText[2] != '/' || pText[5] != '/' ||
      (comHora && (pText[10] != ' ' || pText[13] != ':' || pText[16] != ':'))) {
    return std::nullopt;
  }
  const auto campo = [pText](size_t inicio, size_t tamanho) -> std::optional<int> {
    const std::string_view digitos = pText.substr(inicio, tamanho);
    if (!SoDigitos(digitos)) return std::nullopt;
    return Numero(digitos);
  };
  const std::optional<int> dia = campo(0, 2), mes = campo(3, 2), ano = campo(6, 4);
  if (!dia || !mes || !ano) return std::nullopt;
  platform::DateParts partes{*ano, *mes, *dia, 0, 0, 0, 0};
  if (comHora) {
    const std::optional<int> hora = campo(11, 2), minuto = campo(14, 2), segundo = campo(17, 2);
    if (!hora || !minuto || !segundo) return std::nullopt;
    partes.hour = *hora;
    partes.minute = *minuto;
    partes.second = *segundo;
  }
  return platform::TryEncodeDateTime(partes);
}

void TDmSitef::StartTransaction(const Json& pContent, const TSession* pSession,
                                service::Connection& pIdContext) {
  TTransactionRequest pedido;
  try {
    pedido = ReadTransactionRequest(pContent);
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, e.what());
    return;
  }

  // A key the journal holds names an attempt made already: an ended one is told again and nothing
  // starts, whatever runs now; one still running gets no reply, as any request during an
  // operation. An approved one waiting in its backup is settled by the initialisation below first.
  if (!pedido.Chave.empty()) {
    const std::optional<TJournalOperation> anterior = fJournal.FindByKey(pedido.Chave);
    if (anterior && anterior->Ended()) {
      SendJson(pIdContext, ReplayedResult(*anterior));
      return;
    }
    if (anterior && anterior->Status == TOperationStatus::Running) return;
  }

  // One TEF operation at a time: a second request is dropped without a word and without touching
  // the running one's state.
  if (fProcessando.exchange(true)) return;
  const TReservaProcessando reserva(fProcessando);
  TKoCliSiTefAccess tef = AcquireKoCliSiTef(pIdContext, pSession);
  metrics::TTransactionTally tally(OperationOf(pedido.Tipo));
  fOperacao = pedido.Operacao;
  // Only a payment has a payer: a cancellation or a reprint must never report the previous
  // payment's customer.
  fPayerName = pedido.Tipo == ttTransacao ? pedido.PayerName : std::string();
  if (pedido.Tipo != ttReimpressao) {
    // The request's sale replaces its session's, for this dialogue and the session's later ones.
    if (pedido.Venda_Id) {
      fVendaEmCurso.Venda_Id = *pedido.Venda_Id;
      if (pSession != nullptr) FSessionList.SetVenda_Id(pSession->Session_UUID(), *pedido.Venda_Id);
    }
    fValorTransacao = pedido.Valor;
    fQtdParcelas = pedido.QtdParcelas;
  }
  // Whatever backups this dialogue leaves unconfirmed belong to this connection: its end reverses
  // them, and no other connection's does.
  const std::vector<std::string> backupsAntes = KoCliSiTef.TEFCliSiTef().ArquivosBackup();
  const auto guardaBackups = [&] {
    if (fConcluido) return;
    std::vector<std::string> novos = NewBackups(backupsAntes);
    if (novos.empty()) return;
    std::lock_guard lock(fStateLock);
    std::vector<std::string>& daConexao = fBackupsPorConexao[pIdContext.Id()];
    daConexao.insert(daConexao.end(), novos.begin(), novos.end());
  };
  const TAoTerminar aoTerminar(guardaBackups);
  const TAoTerminar encerraOperacao([this] {
    std::lock_guard lock(fStateLock);
    fOperacaoEmCurso = {};
  });

  try {
    EnsureInicializado(*tef);
    if (!tef->Inicializado(tef::gpCliSiTef)) {
      SendErrorMessage(pIdContext, "SiTef não inicializado.");
      return;
    }
    if (!pedido.Chave.empty()) {
      // The initialisation may just have settled this key's payment, left by an earlier process.
      const std::optional<TJournalOperation> anterior = fJournal.FindByKey(pedido.Chave);
      if (anterior && anterior->Ended()) SendJson(pIdContext, ReplayedResult(*anterior));
      if (anterior) return;
    }
    if (pedido.Tipo != ttReimpressao) {
      TJournalOperation operacao;
      try {
        operacao = fJournal.Begin(
            pedido.Tipo == ttCancelamento ? TOperationKind::Cancellation : TOperationKind::Payment,
            pedido.Chave, fVendaEmCurso.Venda_Id, fValorTransacao, fQtdParcelas);
      } catch (const std::exception& e) {
        // Nothing may be charged that the journal cannot tell of afterwards.
        SendErrorMessage(pIdContext, std::string(kJournalUnavailableError) + e.what());
        return;
      }
      std::lock_guard lock(fStateLock);
      fOperacaoEmCurso = std::move(operacao);
    }
    fUltimoTextoDialogo.clear();
    fConcluido = false;
    fPodeCancelar = false;
    fCancelado = false;
    fInterrompido = false;
    // A message kept from an earlier dialogue must not answer this one's first prompt.
    fLastContentReceived.clear();
    tef::TKoCliSiTefCliSiTef& gateway = tef->TEFCliSiTef();
    gateway.SetOperacaoCRT(fOperacao);
    gateway.SetCancelandoTransacaoTEF(false);
    // The backup of an approved payment keeps where it is reported, so that a confirmation by a
    // later process reports it to its own sales system.
    gateway.SetRetornoAplicacao(fVendaEmCurso.CallbackURL,
                                std::to_string(fVendaEmCurso.Empresa_Id));
    gateway.SetOperacaoAplicacao(fOperacaoEmCurso.Id, fOperacaoEmCurso.Key);

    const std::string vendaId = std::to_string(fVendaEmCurso.Venda_Id);
    const std::string parcelas = DoisDigitos(fQtdParcelas);
    fTipoEmCurso = pedido.Tipo;
    try {
      switch (pedido.Tipo) {
        case ttReimpressao:
          tef->CRT(1.0, std::to_string(fOperacao), "0", 0, "", "", "", "0");
          break;
        case ttCancelamento:
          gateway.SetCancelandoTransacaoNSU(pedido.NSU);
          gateway.SetCancelandoTransacaoDATA(pedido.Data);
          gateway.SetCancelandoTransacaoVALOR(fValorTransacao);
          gateway.SetCancelandoTransacaoTEF(true);
          tef->CRT(fValorTransacao.ToDouble(), "02", vendaId, 0, "", "", "", parcelas);
          break;
        default:
          tef->RespostasPendentes().SetValorDinheiro(fValorTransacao);
          tef->RespostasPendentes().SetValorTotalAPagar(fValorTransacao);
          tef->CRT(fValorTransacao.ToDouble(), "02", vendaId, 0, "", "", "", parcelas);
          break;
      }
    } catch (...) {
      fTipoEmCurso = ttNenhum;
      throw;
    }
    fTipoEmCurso = ttNenhum;
    tally.Outcome = metrics::OutcomeOf(fConcluido, fCancelado || fInterrompido);

    // A confirmed payment has had its result; only a dialogue that confirmed nothing fails here.
    if (!fConcluido) {
      if (tef->Inicializado(tef::gpCliSiTef)) tef->CancelarTransacoesPendentes();
      const bool cancelada = fCancelado || fInterrompido;
      Json result = Json::object();
      result["type"] = "result";
      result["status"] = cancelada ? "canceled" : "unauthorized";
      result["message"] = "Transação TEF não realizada.";
      if (!pedido.Chave.empty()) result["idempotency_key"] = pedido.Chave;
      ReportUnfinishedPayment(FService.Events(), pedido.Tipo, ValueAsText(result["status"]),
                              fValorTransacao, fVendaEmCurso.Venda_Id);
      EndRunningOperation(cancelada ? "canceled" : "refused", fUltimoTextoDialogo);
      AnnounceCancelEnded();
      SendJson(pIdContext, result);
    }
  } catch (const std::exception& e) {
    if (fConcluido) tally.Outcome = metrics::TOutcome::Approved;
    // A dialogue that failed before its confirmation leaves nothing approved behind.
    if (!fConcluido) {
      ReportFailedPayment(FService.Events(), pedido.Tipo, e.what());
      try {
        if (tef->Inicializado(tef::gpCliSiTef)) tef->CancelarTransacoesPendentes();
      } catch (const std::exception&) {
        // The backups stay on disk; the disconnect or the next start-up reverses them.
      }
      // The page's connection ending is the common case: said in words, the rest as it came.
      EndRunningOperation(
          "interrupted", dynamic_cast<const service::EConnectionClosed*>(&e) != nullptr
                             ? std::string("A conexão com a página foi perdida durante a operação.")
                             : std::string(e.what()));
    }
    try {
      AnnounceCancelEnded();
      SendErrorMessage(pIdContext, e.what());
    } catch (const std::exception&) {
      // The connection is gone; its disconnect step follows.
    }
  }
}

}  // namespace kelvora::protocol
