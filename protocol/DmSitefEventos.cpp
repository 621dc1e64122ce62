// The TEF component's nineteen events bound to the data module's handlers, and the handlers whose
// answers are fixed because the service has no fiscal printer, keyboard or window of its own.
#include <functional>

#include "protocol/DmSitef.h"
#include "protocol/PaymentEvents.h"

namespace kelvora::protocol {

void TDmSitef::BindKoCliSiTefEvents() {
  KoCliSiTef.OnAguardaResp = std::bind_front(&TDmSitef::KoCliSiTefAguardaResp, this);
  KoCliSiTef.OnExibeMsg = std::bind_front(&TDmSitef::KoCliSiTefExibeMsg, this);
  KoCliSiTef.OnRestauraFocoAplicacao =
      std::bind_front(&TDmSitef::KoCliSiTefRestauraFocoAplicacao, this);
  KoCliSiTef.OnComandaECF = std::bind_front(&TDmSitef::KoCliSiTefComandaECF, this);
  KoCliSiTef.OnComandaImpressao = std::bind_front(&TDmSitef::KoCliSiTefComandaImpressao, this);
  KoCliSiTef.OnComandaECFPagamento =
      std::bind_front(&TDmSitef::KoCliSiTefComandaECFPagamento, this);
  KoCliSiTef.OnComandaECFAbreVinculado =
      std::bind_front(&TDmSitef::KoCliSiTefComandaECFAbreVinculado, this);
  KoCliSiTef.OnComandaECFImprimeVia =
      std::bind_front(&TDmSitef::KoCliSiTefComandaECFImprimeVia, this);
  KoCliSiTef.OnInfoECF = std::bind_front(&TDmSitef::KoCliSiTefInfoECF, this);
  KoCliSiTef.OnDepoisConfirmarTransacoes =
      std::bind_front(&TDmSitef::KoCliSiTefDepoisConfirmarTransacoes, this);
  KoCliSiTef.OnAntesCancelarTransacao =
      std::bind_front(&TDmSitef::KoCliSiTefAntesCancelarTransacao, this);
  KoCliSiTef.OnDepoisCancelarTransacoes =
      std::bind_front(&TDmSitef::KoCliSiTefDepoisCancelarTransacoes, this);
  KoCliSiTef.OnMudaEstadoReq = std::bind_front(&TDmSitef::KoCliSiTefMudaEstadoReq, this);
  KoCliSiTef.OnMudaEstadoResp = std::bind_front(&TDmSitef::KoCliSiTefMudaEstadoResp, this);
  KoCliSiTef.OnExibeMenu = std::bind_front(&TDmSitef::KoCliSiTefExibeMenu, this);
  KoCliSiTef.OnObtemCampo = std::bind_front(&TDmSitef::KoCliSiTefObtemCampo, this);
  KoCliSiTef.OnObtemCheque = std::bind_front(&TDmSitef::KoCliSiTefObtemCheque, this);
  KoCliSiTef.OnObterSenha = std::bind_front(&TDmSitef::KoCliSiTefObterSenha, this);
  KoCliSiTef.OnExibeQRCode = std::bind_front(&TDmSitef::KoCliSiTefExibeQRCode, this);
  KoCliSiTef.OnPaymentBackedUp = std::bind_front(&TDmSitef::KoCliSiTefPaymentBackedUp, this);
}

void TDmSitef::KoCliSiTefRestauraFocoAplicacao(bool& Tratado) {
  Tratado = false;
}

void TDmSitef::KoCliSiTefComandaECF(tef::TKoCliSiTefOperacaoECF, tef::TKoCliSiTefResp&,
                                    int32_t& RetornoECF) {
  RetornoECF = 1;
}

// A receipt counts as printed, which makes the gateway confirm the transaction.
void TDmSitef::KoCliSiTefComandaImpressao(int32_t& RetornoImpressao, tef::TKoCliSiTefResp&, bool) {
  RetornoImpressao = 1;
}

void TDmSitef::KoCliSiTefComandaECFPagamento(const std::string&, platform::Currency,
                                             int32_t& RetornoECF) {
  RetornoECF = 1;
}

void TDmSitef::KoCliSiTefComandaECFAbreVinculado(const std::string&, const std::string&,
                                                 platform::Currency, int32_t& RetornoECF) {
  RetornoECF = 1;
}

// Cheques are not taken: the field counts as typed, with the answer the gateway prepared.
void TDmSitef::KoCliSiTefObtemCheque(const std::string&, int32_t,
                                     tef::TKoCliSiTefCliSiTefOperacaoCampo, platform::AnsiString&,
                                     bool& Digitado, bool&) {
  Digitado = true;
}

// The pin-pad asks for the password itself; the dialogue goes on.
void TDmSitef::KoCliSiTefObterSenha(const std::string&, bool& VoltarMenu) {
  VoltarMenu = false;
}

// fProcessando belongs to the request that claimed it and is cleared when that request ends.
// Clearing it here, when a disconnect's reversal fires this event, could release the claim that
// another connection's request had just made, and let a third start a parallel operation.
// Recorded before the reversal reaches the library; one that fails leaves the backup, which the
// operation's ending notices (EndRunningOperation) and records as approved again.
void TDmSitef::KoCliSiTefAntesCancelarTransacao(tef::TKoCliSiTefResp& RespostaPendente) {
  ReportUndonePayment(FService.Events(), RespostaPendente);
  const std::string operacao = OperationOfResponse(RespostaPendente);
  if (!operacao.empty()) fJournal.Record(operacao, TJournalEvent("undone"));
}

void TDmSitef::KoCliSiTefPaymentBackedUp(const tef::TKoCliSiTefResp& Resp) {
  // Approved: the page's chance to cancel has passed.
  if (FIdContext != nullptr) {
    try {
      AnnounceCancelEnded();
    } catch (const std::exception&) {
      // A connection that is gone is noticed by the dialogue's next message.
    }
  }
  const std::string operacao = OperationOfResponse(Resp);
  if (operacao.empty()) return;
  TJournalEvent aprovada("approved");
  aprovada.CardNumber = Resp.NumeroCartao();
  aprovada.Nsu = Resp.NSU();
  aprovada.AuthorizerNsu = Resp.NSUComprovante();
  fJournal.Record(operacao, aprovada);
}

void TDmSitef::KoCliSiTefDepoisCancelarTransacoes(tef::TKoCliSiTefRespostasPendentes&) {}

}  // namespace kelvora::protocol
