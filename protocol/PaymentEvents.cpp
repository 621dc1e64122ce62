// The texts and fields of the payment events.
#include "protocol/PaymentEvents.h"

#include <string>

#include "protocol/Json.h"

namespace kelvora::protocol {
namespace {

using service::TSystemEventId;

// An amount as the journal's readers compute with it: "1234.50".
std::string AmountField(platform::Currency pValor) {
  std::string texto = pValor.ToText2();
  texto[texto.find(',')] = '.';
  return texto;
}

// Runs report so that no failure of an event (out of memory) can disturb the payment it tells of.
template <typename Report>
void Guarded(const Report& report) noexcept {
  try {
    report();
  } catch (...) {
    // The event is lost, like a service log line that cannot be written.
  }
}

std::string_view RequestName(TTipoTransacao pTipo) {
  return pTipo == ttCancelamento ? "cancellation" : "transaction";
}

}  // namespace

void ReportConfirmedPayments(const service::TSystemEvents& pEvents,
                             const tef::TKoCliSiTefRespostasPendentes& pRespostas,
                             const std::vector<int>& pIndices, const Json& pTransactionData) {
  Guarded([&] {
    for (size_t i = 0; i < pIndices.size() && i < pTransactionData.size(); ++i) {
      const tef::TKoCliSiTefResp& resp = pRespostas.GetObject(pIndices[i]);
      const Json& element = pTransactionData[i];
      const std::string operation = ValueAsText(element.at("operation"));
      if (operation == "reprint") continue;
      const std::string nsu = resp.NSUComprovante();
      const std::string valor = AmountField(resp.ValorTotal());
      const std::string venda = ValueAsText(element.at("sale_id"));
      const std::string detalhe =
          ": NSU " + nsu + ", valor " + resp.ValorTotal().ToText2() + ", venda " + venda + ".";
      TSystemEventId id = TSystemEventId::PaymentApproved;
      std::string texto = "Pagamento aprovado (" + operation + ")" + detalhe;
      if (resp.Pendente()) {
        id = TSystemEventId::BackupRecovered;
        texto =
            "Pagamento pendente de uma execução anterior confirmado (" + operation + ")" + detalhe;
      } else if (operation == "cancellation") {
        id = TSystemEventId::EarlierPaymentCanceled;
        texto = "Cancelamento de pagamento aprovado" + detalhe;
      }
      pEvents.Report(
          id, texto,
          {{"NSU", nsu}, {"AMOUNT", valor}, {"SALE_ID", venda}, {"OPERATION", operation}});
    }
  });
}

void ReportUnfinishedPayment(const service::TSystemEvents& pEvents, TTipoTransacao pTipo,
                             std::string_view pStatus, platform::Currency pValor,
                             int32_t pVenda_Id) {
  if (pTipo == ttReimpressao) return;
  Guarded([&] {
    const bool canceled = pStatus == "canceled";
    const std::string venda = std::to_string(pVenda_Id);
    const std::string texto =
        std::string(canceled ? "Transação TEF cancelada pelo cliente" : "Transação TEF recusada") +
        ": valor " + pValor.ToText2() + ", venda " + venda + ".";
    pEvents.Report(
        canceled ? TSystemEventId::PaymentCanceledByClient : TSystemEventId::PaymentRefused, texto,
        {{"AMOUNT", AmountField(pValor)},
         {"SALE_ID", venda},
         {"REQUEST", std::string(RequestName(pTipo))},
         {"STATUS", std::string(pStatus)}});
  });
}

void ReportFailedPayment(const service::TSystemEvents& pEvents, TTipoTransacao pTipo,
                         std::string_view pErro) {
  if (pTipo == ttReimpressao) return;
  Guarded([&] {
    pEvents.Report(TSystemEventId::PaymentFailed,
                   "Transação TEF interrompida por erro: " + std::string(pErro),
                   {{"REQUEST", std::string(RequestName(pTipo))}});
  });
}

void ReportUndonePayment(const service::TSystemEvents& pEvents, const tef::TKoCliSiTefResp& pResp) {
  Guarded([&] {
    const std::string nsu = pResp.NSUComprovante();
    pEvents.Report(TSystemEventId::PaymentUndone,
                   "Desfazendo pagamento não confirmado: NSU " + nsu + ", valor " +
                       pResp.ValorTotal().ToText2() + ".",
                   {{"NSU", nsu}, {"AMOUNT", AmountField(pResp.ValorTotal())}});
  });
}

void ReportLibraryLoaded(const service::TSystemEvents& pEvents,
                         const tef::TKoCliSiTefCliSiTef& pGateway) {
  Guarded([&] {
    const bool simulada = pGateway.BibliotecaSimulada();
    pEvents.Report(TSystemEventId::LibraryLoaded,
                   "Biblioteca do SiTef carregada: " +
                       tef::NomeCompletoDLL(pGateway.PathDLL(), pGateway.NomeDLL()) +
                       (simulada ? " (SIMULADOR: nenhum pagamento é real)." : "."),
                   {{"SIMULATOR", simulada ? "1" : "0"}});
  });
}

void TDmSitef::LogSaleReportFailure(std::string_view pText) const {
  Log(pText);
  FService.Events().Report(TSystemEventId::SaleReportFailed, pText);
}

}  // namespace kelvora::protocol
