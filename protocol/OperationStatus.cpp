// What became of an operation, as the journal knows it: the "/transaction/status" request, and
// the outcome told again to a page that sends a key it has used before.
#include "protocol/Convert.h"
#include "protocol/DmSitef.h"

namespace kelvora::protocol {
namespace {

constexpr std::string_view kStatusWithoutFilter =
    "Informe o campo \"idempotency_key\" ou \"sale_id\".";

}  // namespace

Json TDmSitef::ReplayedResult(const TJournalOperation& pOperation) {
  Json result = Json::object();
  if (pOperation.Status == TOperationStatus::Confirmed && pOperation.Result.is_object()) {
    result = pOperation.Result;
    // The ids the sales API gave are added as they were to the page's copy: 0 while the report
    // waits.
    SetTransactionDataValue(result, "payment_id", pOperation.PaymentId);
    SetTransactionDataValue(result, "company_id", pOperation.CompanyId);
  } else {
    result["type"] = "result";
    result["status"] = pOperation.Status == TOperationStatus::Canceled      ? "canceled"
                       : pOperation.Status == TOperationStatus::Interrupted ? "interrupted"
                                                                            : "unauthorized";
    result["message"] = "Transação TEF não realizada.";
  }
  if (!pOperation.Key.empty()) result["idempotency_key"] = pOperation.Key;
  result["replayed"] = true;
  return result;
}

Json TDmSitef::OperationStatusElement(const TJournalOperation& pOperation) {
  Json element = Json::object();
  if (!pOperation.Key.empty()) element["idempotency_key"] = pOperation.Key;
  element["operation_id"] = pOperation.Id;
  element["sale_id"] = pOperation.SaleId;
  element["kind"] = std::string(KindName(pOperation.Kind));
  element["amount"] = static_cast<double>(pOperation.Amount.Raw()) / 10000.0;
  element["installments"] = pOperation.Installments;
  element["status"] = std::string(StatusName(pOperation.Status));
  if (!pOperation.Reason.empty()) element["reason"] = pOperation.Reason;
  if (!pOperation.CardNumber.empty()) element["card_number"] = pOperation.CardNumber;
  if (!pOperation.Nsu.empty()) element["nsu"] = pOperation.Nsu;
  if (!pOperation.AuthorizerNsu.empty()) element["authorizer_nsu"] = pOperation.AuthorizerNsu;
  element["requested_at"] = pOperation.RequestedAt;
  element["updated_at"] = pOperation.UpdatedAt;
  if (pOperation.Status == TOperationStatus::Confirmed && pOperation.ReportSent) {
    element["report"] = *pOperation.ReportSent ? "sent" : "pending";
    if (*pOperation.ReportSent) element["payment_id"] = pOperation.PaymentId;
  }
  return element;
}

void TDmSitef::TransactionStatus(const Json& pContent, const TSession*,
                                 service::Connection& pIdContext) {
  if (GetRequiredField(pContent, "type") != "status") {
    SendErrorMessage(pIdContext, "Campo type diferente de status.");
    return;
  }
  std::optional<std::string> chave;
  std::optional<int32_t> venda;
  try {
    if (pContent.contains("idempotency_key"))
      chave = IdempotencyKeyOf(pContent.at("idempotency_key"));
    if (pContent.contains("sale_id")) venda = StrToInt(GetRequiredField(pContent, "sale_id"));
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, e.what());
    return;
  }
  if (!chave && !venda) {
    SendErrorMessage(pIdContext, kStatusWithoutFilter);
    return;
  }

  std::vector<TJournalOperation> operacoes;
  if (chave) {
    if (std::optional<TJournalOperation> operacao = fJournal.FindByKey(*chave)) {
      if (!venda || operacao->SaleId == *venda) operacoes.push_back(std::move(*operacao));
    }
  } else {
    operacoes = fJournal.ForSale(*venda);
  }
  Json lista = Json::array();
  for (const TJournalOperation& operacao : operacoes)
    lista.push_back(OperationStatusElement(operacao));

  Json reply = Json::object();
  reply["type"] = "transaction_status";
  reply["operations"] = std::move(lista);
  reply["running"] = fProcessando.load();
  {
    std::lock_guard lock(fStateLock);
    if (fProcessando && !fOperacaoEmCurso.Id.empty()) {
      Json emCurso = Json::object();
      emCurso["sale_id"] = fOperacaoEmCurso.SaleId;
      emCurso["kind"] = std::string(KindName(fOperacaoEmCurso.Kind));
      if (!fOperacaoEmCurso.Key.empty()) emCurso["idempotency_key"] = fOperacaoEmCurso.Key;
      reply["running_operation"] = std::move(emCurso);
    }
  }
  SendJson(pIdContext, reply);
}

}  // namespace kelvora::protocol
