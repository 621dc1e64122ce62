// The report of an approved outcome to the sales system's HTTP API and the payment id it assigns.
#include "protocol/Convert.h"
#include "protocol/DmSitef.h"
#include "protocol/Rest.h"
#include "tokens/Jose.h"

namespace kelvora::protocol {
namespace {

constexpr std::string_view kCallbackLog = "Erro ao registrar transação na API: ";

// The detail of a refusal: the API's own "message" when the body carries a readable one, else the
// status line.
std::string RefusalDetail(const TRestResponse& response) {
  const std::optional<Json> body = ParseJson(response.Content);
  if (body && body->is_object() && body->contains("message")) {
    const Json& message = (*body)["message"];
    if (!message.is_object() && !message.is_array()) {
      return "Code: " + std::to_string(response.StatusCode) + " - Message: " + ValueAsText(message);
    }
  }
  return std::to_string(response.StatusCode) + " - " + response.StatusText;
}

// The payment id of an accepted answer: "data" as an integer (a JSON integer or a string of
// digits), 0 without "data" or when the body is not JSON at all. A body that is JSON but not an
// object, or a "data" that is not an integer, raises with the reason.
int32_t PaymentId(const TRestResponse& response) {
  const std::optional<Json> body = ParseJson(response.Content);
  if (!body) return 0;
  if (!body->is_object()) throw EConvertError("Invalid class typecast");
  if (!body->contains("data")) return 0;
  return StrToInt(ValueAsText((*body)["data"]));
}

}  // namespace

bool TDmSitef::SetTransactionDataValue(Json& pMessage, std::string_view pKey, const Json& pValue) {
  if (!pMessage.is_object() || !pMessage.contains("transaction_data")) return false;
  Json& elements = pMessage["transaction_data"];
  if (!elements.is_array() || elements.empty() || !elements.front().is_object()) return false;
  Json& first = elements.front();
  const std::string key(pKey);
  first.erase(key);
  first[key] = pValue;
  return true;
}

bool TDmSitef::SendSaleCallback(Json& pMessage) {
  std::string callbackURL;
  int32_t empresaId = 0;
  {
    std::lock_guard lock(fStateLock);
    if (!fCallbackURL.empty() && fCallbackURL.back() != '/') fCallbackURL += '/';
    callbackURL = fCallbackURL;
    empresaId = fEmpresa_Id;
  }
  // Written before the ids are added: the API never receives "payment_id" nor "company_id".
  const std::string body = WriteJson(pMessage);
  const std::string address =
      callbackURL + "v1/sales/tef/callback/" + tokens::GenerateToken(JwtSecret(), std::nullopt);

  int32_t paymentId = 0;
  bool accepted = false;
  try {
    const TRestResponse response = ExecuteRequest("POST", address, {}, body);
    if (response.StatusCode < 200 || response.StatusCode > 204) {
      Log(std::string(kCallbackLog) + RefusalDetail(response));
    } else {
      paymentId = PaymentId(response);
      accepted = true;
    }
  } catch (const std::exception& e) {
    // An API that cannot be reached or whose answer cannot be read must not cost the client the
    // outcome of a payment that is already confirmed: it is logged like a refusal.
    Log(std::string(kCallbackLog) + e.what());
  }
  SetTransactionDataValue(pMessage, "payment_id", paymentId);
  SetTransactionDataValue(pMessage, "company_id", empresaId);
  return accepted;
}

}  // namespace kelvora::protocol
