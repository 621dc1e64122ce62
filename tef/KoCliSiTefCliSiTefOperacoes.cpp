// The CliSiTef gateway's transaction operations: each prepares its pre-set answers, runs one
// dialogue and hands a successful response on; the finalisation confirms or undoes it in the
// library; card readings; the success processing of payments and of other responses.
#include <cstring>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

using platform::AnsiString;

constexpr int kComandoPendente = 10000;
constexpr int kSim = 6;
constexpr const char* kImpressoraNaoResponde =
    "Impressora não responde\r\nDeseja imprimir novamente ?";
constexpr const char* kTransacaoNaoEfetuada = "Transação \"TEF\" não efetuada.";
// Size of the message buffer handed to LeTrilha3; the library is given no message of ours.
constexpr size_t kTamanhoMensagem = 129;
// Seconds LeCartaoDiretoEx waits for the card.
constexpr short kEsperaCartao = 30;

// A part of the typed cheque line: its digits, left-padded with zeros or cut to n characters.
std::string ParteCheque(const std::string& parte, int n) {
  return PreencheEsquerda(SomenteDigitos(Trim(parte)), n, '0');
}

// A payment's amount in whole cents, rounded once by the rule the library's text, the record and
// the report share: every check, balance and printer registration after it sees what is charged.
platform::Currency EmCentavos(platform::Currency Valor) {
  return platform::Currency::FromCents(Valor.RoundedCents());
}

// A buffer's text up to its first NUL, without trailing blanks.
std::string TextoDoBuffer(const std::vector<char>& buffer) {
  AnsiString texto(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
  while (!texto.empty() && static_cast<unsigned char>(texto.back()) <= ' ') texto.pop_back();
  return platform::FromAnsi(texto);
}

// Tells the user how a transaction the library has already settled ended. A notice that fails (its
// client gone) is only logged: it must not keep the backup file of a settled transaction, which
// the next start-up would otherwise confirm, even when the library had undone it.
void AvisaTransacaoFinalizada(TKoCliSiTef& facade, const std::string& origem,
                              const std::string& mensagem) {
  try {
    facade.DoExibeMsg(opmOK, mensagem);
  } catch (const std::exception& e) {
    facade.GravaLog(origem + ": " + e.what());
  }
}

}  // namespace

void TKoCliSiTefCliSiTef::SetResposta(int32_t campo, AnsiString valor) {
  if (valor.empty()) {
    fRespostas.erase(campo);
  } else {
    fRespostas[campo] = std::move(valor);
  }
}

int32_t TKoCliSiTefCliSiTef::ExecutarFuncao(int32_t Modalidade, const std::string& Header,
                                            const AnsiString& Restricoes, platform::Currency Valor,
                                            const AnsiString& NumeroCartao,
                                            const AnsiString& DataVencimento, const AnsiString& CVV,
                                            const AnsiString& QtdParcela) {
  int32_t r = IniciarFuncaoInterativa(Modalidade, Header, Restricoes, Valor);
  if (r == kComandoPendente) {
    r = ContinuarFuncaoInterativa(false, NumeroCartao, DataVencimento, CVV, QtdParcela);
  }
  if (r != 0) ExibirErroSiTef(r);
  return r;
}

void TKoCliSiTefCliSiTef::ATV() {
  const AnsiString nenhum;
  if (ExecutarFuncao(fOperacaoATV, "ATV", nenhum, {}, nenhum, nenhum, nenhum,
                     platform::AnsiBytes("0")) == 0) {
    ProcessarResposta();
  }
}

bool TKoCliSiTefCliSiTef::ADM() {
  const AnsiString nenhum;
  if (ExecutarFuncao(fOperacaoADM, "ADM", fRestricoes, {}, nenhum, nenhum, nenhum,
                     platform::AnsiBytes("0")) != 0) {
    return false;
  }
  ProcessarResposta();
  return true;
}

bool TKoCliSiTefCliSiTef::CRT(platform::Currency Valor, const std::string& IndiceFPG_ECF,
                              const std::string& NumeroCartao, const std::string& DataVencimento,
                              const std::string& CVV, const std::string& QtdParcela,
                              const std::string& DocumentoVinculado, int32_t /*Moeda*/) {
  Valor = EmCentavos(Valor);
  VerificaValor(Valor);
  const AnsiString restricoes = fRestricoes.empty() ? platform::AnsiBytes("[10];") : fRestricoes;
  if (fOperacaoCRT == 201) {
    SetResposta(146, platform::AnsiBytes(Valor.ToText2()));
    SetResposta(147, platform::AnsiBytes(Valor.ToText2()));
  }
  if (ExecutarFuncao(fOperacaoCRT, "CRT", restricoes, Valor, platform::ToAnsi(NumeroCartao),
                     platform::ToAnsi(DataVencimento), platform::ToAnsi(CVV),
                     platform::ToAnsi(QtdParcela)) != 0) {
    return false;
  }
  GuardaDocumentoAplicacao(DocumentoVinculado);
  ProcessarRespostaPagamento(IndiceFPG_ECF, Valor);
  return true;
}

void TKoCliSiTefCliSiTef::GuardaDocumentoAplicacao(const std::string& DocumentoVinculado) {
  // Escaped like every stored value, so no text the application gives can break the backup's lines.
  fRespCliSiTef.Conteudo().GravaInformacao(899, 105,
                                           CodificaHex(platform::ToAnsi(DocumentoVinculado)));
  if (!fEnderecoRetornoAplicacao.empty()) {
    fRespCliSiTef.Conteudo().GravaInformacao(
        899, 106, CodificaHex(platform::ToAnsi(fEnderecoRetornoAplicacao)));
  }
  if (!fEmpresaAplicacao.empty()) {
    fRespCliSiTef.Conteudo().GravaInformacao(899, 107,
                                             CodificaHex(platform::ToAnsi(fEmpresaAplicacao)));
  }
  if (!fChaveAplicacao.empty()) {
    fRespCliSiTef.Conteudo().GravaInformacao(899, 109,
                                             CodificaHex(platform::ToAnsi(fChaveAplicacao)));
  }
  if (!fOperacaoAplicacao.empty()) {
    fRespCliSiTef.Conteudo().GravaInformacao(899, 110,
                                             CodificaHex(platform::ToAnsi(fOperacaoAplicacao)));
  }
  fRespCliSiTef.ConteudoToProperty();
}

bool TKoCliSiTefCliSiTef::CHQ(platform::Currency Valor, const std::string& IndiceFPG_ECF,
                              const std::string& DocumentoVinculado, const std::string& CMC7,
                              char TipoPessoa, const std::string& DocumentoPessoa,
                              platform::TDateTime DataCheque, const std::string& Banco,
                              const std::string& Agencia, const std::string& AgenciaDC,
                              const std::string& Conta, const std::string& ContaDC,
                              const std::string& Cheque, const std::string& ChequeDC,
                              const std::string& Compensacao) {
  Valor = EmCentavos(Valor);
  VerificaValor(Valor);
  SetResposta(501, platform::AnsiBytes(TipoPessoa == 'J' ? "1" : "0"));
  if (!DocumentoPessoa.empty()) {
    SetResposta(502, platform::AnsiBytes(SomenteDigitos(Trim(DocumentoPessoa))));
  }
  if (DataCheque != 0) {
    SetResposta(506, platform::AnsiBytes(platform::FormatDateTime("ddmmyyyy", DataCheque)));
  }
  if (!CMC7.empty()) {
    SetResposta(517, platform::ToAnsi("1:" + CMC7));
  } else {
    SetResposta(517,
                platform::AnsiBytes("0:" + ParteCheque(Compensacao, 3) + ParteCheque(Banco, 3) +
                                    ParteCheque(Agencia, 4) + ParteCheque(AgenciaDC, 1) +
                                    ParteCheque(Conta, 10) + ParteCheque(ContaDC, 1) +
                                    ParteCheque(Cheque, 6) + ParteCheque(ChequeDC, 1)));
  }
  const AnsiString restricoes = fRestricoes.empty() ? platform::AnsiBytes("[15;25]") : fRestricoes;
  const AnsiString nenhum;
  if (ExecutarFuncao(fOperacaoCHQ, "CHQ", restricoes, Valor, nenhum, nenhum, nenhum,
                     platform::AnsiBytes("0")) != 0) {
    return false;
  }
  GuardaDocumentoAplicacao(DocumentoVinculado);
  ProcessarRespostaPagamento(IndiceFPG_ECF, Valor);
  return true;
}

bool TKoCliSiTefCliSiTef::CNC(const std::string& /*Rede*/, const std::string& NSU,
                              platform::TDateTime DataHoraTransacao, platform::Currency Valor) {
  SetResposta(146, platform::AnsiBytes(Valor.ToText2()));
  SetResposta(147, platform::AnsiBytes(Valor.ToText2()));
  SetResposta(515, platform::AnsiBytes(platform::FormatDateTime("ddmmyyyy", DataHoraTransacao)));
  SetResposta(516, platform::ToAnsi(NSU));
  const AnsiString nenhum;
  if (ExecutarFuncao(fOperacaoCNC, "CNC", nenhum, {}, nenhum, nenhum, nenhum,
                     platform::AnsiBytes("0")) != 0) {
    return false;
  }
  ProcessarResposta();
  return true;
}

void TKoCliSiTefCliSiTef::CNF(const std::string& /*Rede*/, const std::string& /*NSU*/,
                              const std::string& Finalizacao,
                              const std::string& DocumentoVinculado) {
  FinalizarTransacao(true, DocumentoVinculado, Finalizacao);
}

void TKoCliSiTefCliSiTef::NCN(const std::string& /*Rede*/, const std::string& /*NSU*/,
                              const std::string& Finalizacao, platform::Currency /*Valor*/,
                              const std::string& DocumentoVinculado) {
  FinalizarTransacao(false, DocumentoVinculado, Finalizacao);
}

void TKoCliSiTefCliSiTef::FinalizarNaBiblioteca(bool Confirma,
                                                const std::string& DocumentoVinculado,
                                                const std::string& Finalizacao) {
  const auto finaliza =
      Exportacao(fDLL.xFinalizaTransacaoSiTefInterativo, "FinalizaTransacaoSiTefInterativo");
  std::string fiscal = Finalizacao;
  if (fiscal.empty() && DocumentoVinculado == fRespCliSiTef.DocumentoVinculado()) {
    fiscal = fRespCliSiTef.Finalizacao();
  }
  if (fiscal.size() != 14 || SomenteDigitos(fiscal) != fiscal) {
    fiscal = platform::FormatDateTime("yyyymmddhhnnss", platform::Now(Owner().Clock()));
  }
  const std::string data = fiscal.substr(0, 8);
  const std::string hora = fiscal.substr(8);
  GravaLog(std::string("*** FinalizaTransacaoSiTefInterativo -> ") +
           (Confirma ? "Confirmação: SIM" : "Cancelamento: SIM") +
           " Documento: " + DocumentoVinculado + " Data: " + data + " Hora: " + hora);
  AnsiString cupom = platform::ToAnsi(DocumentoVinculado);
  AnsiString dataFiscal = platform::AnsiBytes(data);
  AnsiString horario = platform::AnsiBytes(hora);
  finaliza(Confirma ? 1 : 0, cupom.data(), dataFiscal.data(), horario.data());
}

void TKoCliSiTefCliSiTef::FinalizarTransacao(bool Confirma, const std::string& DocumentoVinculado,
                                             const std::string& Finalizacao) {
  fRespostas.clear();
  fIniciouRequisicao = false;
  if (fReimpressao) return;

  TKoCliSiTef& facade = Owner();
  bool finalizadaNaBiblioteca = false;
  if (fRespCliSiTef.MsgImpressao() && !facade.TransacaoConfirmada()) {
    // The application prints the receipt itself; a printed receipt confirms the transaction.
    int32_t RetornoImpressao = -1;
    facade.BloquearMouseTeclado(false);
    if (facade.OnComandaImpressao) {
      facade.OnComandaImpressao(RetornoImpressao, fRespCliSiTef, fDevolucao);
    }
    Confirma = RetornoImpressao != 0;
    FinalizarNaBiblioteca(Confirma, DocumentoVinculado, Finalizacao);
    finalizadaNaBiblioteca = true;
    // Outside service mode this would be a modal box, which this platform does not have.
    if (fDevolucao && FTEFModoServico) {
      AvisaTransacaoFinalizada(facade, Name() + " FinalizarTransacao",
                               "Transação efetuada com sucesso.\r\nFavor reter o Cupom");
    }
  } else if (Confirma) {
    // A payment whose dialogue brought no receipt image is confirmed all the same: the caller
    // reports it approved and deletes its backup, and a library left waiting would undo it.
    FinalizarNaBiblioteca(true, DocumentoVinculado, Finalizacao);
  }
  if (!Confirma) {
    if (finalizadaNaBiblioteca) {
      AvisaTransacaoFinalizada(facade, Name() + " FinalizarTransacao", kTransacaoNaoEfetuada);
    } else {
      facade.DoExibeMsg(opmOK, kTransacaoNaoEfetuada);
    }
    GravaLog(DocumentoVinculado);
  }
}

void TKoCliSiTefCliSiTef::ConfirmarBackup() {
  fRespostas.clear();
  fIniciouRequisicao = false;
  FinalizarNaBiblioteca(true, fRespCliSiTef.DocumentoVinculado(), fRespCliSiTef.Finalizacao());
}

void TKoCliSiTefCliSiTef::DesfazerBackup() {
  fRespostas.clear();
  fIniciouRequisicao = false;
  const std::string documento = fRespCliSiTef.DocumentoVinculado();
  FinalizarNaBiblioteca(false, documento, fRespCliSiTef.Finalizacao());
  AvisaTransacaoFinalizada(Owner(), Name() + " DesfazerBackup", kTransacaoNaoEfetuada);
  GravaLog(documento);
}

int32_t TKoCliSiTefCliSiTef::LerTrilha3(AnsiString& /*AResposta*/) {
  const auto le = Exportacao(fDLL.xLeTrilha3, "LeTrilha3");
  DefineMensagemPermanentePinPad("ID Amigo");
  std::vector<char> mensagem(kTamanhoMensagem, '\0');
  const int32_t r = le(mensagem.data());
  if (r == kComandoPendente) {
    const AnsiString nenhum;
    ContinuarFuncaoInterativa(true, nenhum, nenhum, nenhum, platform::AnsiBytes("0"));
  }
  DefineMensagemPermanentePinPad("** BOA VIAGEM **");
  return r;
}

int32_t TKoCliSiTefCliSiTef::LerCartaoSeguro() {
  const auto le = Exportacao(fDLL.xLeCartaoDiretoEx, "LeCartaoDiretoEx");
  TKoCliSiTef& facade = Owner();
  facade.DoExibeMsg(opmExibirMsgOperador, "Passe o cartão");
  facade.DoExibeMsg(opmExibirMsgCliente, "Passe o cartão");
  std::vector<char> mensagem(25, '\0');
  std::vector<char> trilha1(129, '\0');
  std::vector<char> trilha2(129, '\0');
  const int32_t r = le(mensagem.data(), trilha1.data(), trilha2.data(), kEsperaCartao, nullptr);
  const std::string primeira = TextoDoBuffer(trilha1);
  const std::string segunda = TextoDoBuffer(trilha2);
  facade.SetIDAmigo(segunda.empty() ? primeira : primeira + "\r ( " + segunda + " )");
  facade.DoExibeMsg(opmExibirMsgOperador, "");
  facade.DoExibeMsg(opmExibirMsgCliente, "");
  DefineMensagemPermanentePinPad("** BOA VIAGEM **");
  return r;
}

void TKoCliSiTefCliSiTef::VerificaRequisicaoIniciada() {
  if (!fIniciouRequisicao) throw EKoCliSiTefErro("Nenhuma Requisição Iniciada");
}

void TKoCliSiTefCliSiTef::ProcessarResposta() {
  TKoCliSiTef& facade = Owner();
  GravaLog(Name() + " ProcessarResposta: ");
  facade.SetEstadoResp(respProcessando);
  if (fRespCliSiTef.QtdLinhasComprovante() <= 0) return;

  TKoCliSiTefRespostasPendentes& pendentes = facade.RespostasPendentes();
  try {
    std::unique_ptr<TKoCliSiTefResp> copia = CriarResposta();
    copia->Assign(fRespCliSiTef);
    pendentes.Add(std::move(copia));
    ImprimirRelatorio();
    if (facade.OnDepoisConfirmarTransacoes) facade.OnDepoisConfirmarTransacoes(pendentes);
  } catch (...) {
    pendentes.Clear();
    throw;
  }
  pendentes.Clear();
}

bool TKoCliSiTefCliSiTef::ProcessarRespostaPagamento(const std::string& IndiceFPG_ECF,
                                                     platform::Currency Valor) {
  TKoCliSiTef& facade = Owner();
  fRespCliSiTef.SetIndiceFPG_ECF(IndiceFPG_ECF);
  try {
    CopiarResposta();
  } catch (const std::exception& e) {
    // Without its backup file a crash could lose the payment while the library waits for its
    // confirmation: it is undone now, and the operation fails with the reason.
    GravaLog(Name() + " ProcessarRespostaPagamento: " + e.what());
    try {
      fRespostas.clear();
      fIniciouRequisicao = false;
      FinalizarNaBiblioteca(false, fRespCliSiTef.DocumentoVinculado(), fRespCliSiTef.Finalizacao());
    } catch (...) {
      // The library's own timeout undoes what it never saw confirmed.
    }
    throw;
  }
  if (facade.OnPaymentBackedUp) {
    try {
      facade.OnPaymentBackedUp(fRespCliSiTef);
    } catch (...) {
      // The payment is safe in its backup; the application's notice cannot change that.
    }
  }

  TKoCliSiTefRespostasPendentes& pendentes = facade.RespostasPendentes();
  std::unique_ptr<TKoCliSiTefResp> copia = CriarResposta();
  copia->Assign(fRespCliSiTef);
  TKoCliSiTefResp& registro = *copia;
  pendentes.Add(std::move(copia));

  if (facade.AutoEfetuarPagamento()) {
    bool registrado = false;
    try {
      for (;;) {
        try {
          facade.ECFPagamento(IndiceFPG_ECF, Valor.ToDouble());
          pendentes.SetSaldoAPagar(pendentes.SaldoAPagar() -
                                   platform::Currency::FromCents(Valor.ToCents()));
          registro.SetOrdemPagamento(pendentes.Count() + 1);
          registrado = true;
          break;
        } catch (const EKoCliSiTefECF&) {
          if (facade.DoExibeMsg(opmYesNo, kImpressoraNaoResponde) != kSim) {
            try {
              facade.ComandarECF(opeCancelaCupom);
            } catch (...) {
              // The reversal below is what matters.
            }
            break;
          }
        }
      }
    } catch (...) {
      facade.CancelarTransacoesPendentes();
      throw;
    }
    if (!registrado) facade.CancelarTransacoesPendentes();
  }

  if (pendentes.SaldoRestante() <= platform::Currency() && facade.AutoFinalizarCupom()) {
    facade.FinalizarCupom(false);
    facade.ImprimirTransacoesPendentes();
  }
  return true;
}

}  // namespace kelvora::tef
