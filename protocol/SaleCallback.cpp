// The report of an approved outcome to the sales system's HTTP API and the payment id it assigns.
#include <chrono>
#include <functional>
#include <memory>

#include <curl/curl.h>

#include "platform/IniFile.h"
#include "platform/Utf8Path.h"
#include "protocol/CallbackDestination.h"
#include "protocol/Convert.h"
#include "protocol/CurlUrl.h"
#include "protocol/DmSitef.h"
#include "protocol/Rest.h"
#include "protocol/SaleReportMetrics.h"
#include "tokens/CallbackSignature.h"
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

// The API's answer as the outbox sees it: taken (200 to 204), to be asked again later (it timed
// out, is overloaded or unavailable), or refused for good. A refusal of either kind is logged.
TReportDelivery ClassifyAnswer(const TRestResponse& response,
                               const std::function<void(std::string_view)>& log) {
  const long status = response.StatusCode;
  if (status >= 200 && status <= 204) return TReportDelivery::Accepted;
  log(std::string(kCallbackLog) + RefusalDetail(response));
  const bool later = status == 408 || status == 429 || status == 500 || status == 502 ||
                     status == 503 || status == 504;
  return later ? TReportDelivery::Unanswered : TReportDelivery::Refused;
}

// Whom the reports trust beyond the system's authorities: "[sales_api] ca_file", the certificate
// authorities of a sales API with a CA of the store's own, absolute or relative to the base
// directory; read at every report, as the other settings are.
TRequestTrust SalesApiTrust(const platform::TIniFile& config) {
  const std::string configured = config.ReadString("sales_api", "ca_file", "");
  if (configured.empty()) return {};
  return {(config.FileName().parent_path() / platform::PathFromUtf8(configured)).string()};
}

// The path of address as libcurl will send it in the request line: no scheme, host nor query,
// dot segments resolved, percent escapes left as written. The receiver sees this path, so v2 is
// signed over it. Raises ERequestError for an address libcurl could not post to either.
std::string RequestPath(const std::string& address) {
  const CurlUrl url(curl_url());
  char* path = nullptr;
  // The flags libcurl itself parses a request's address with.
  if (!url ||
      curl_url_set(url.get(), CURLUPART_URL, address.c_str(),
                   CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_PATH, &path, 0) != CURLUE_OK) {
    throw ERequestError(std::string("Request Error ") + curl_easy_strerror(CURLE_URL_MALFORMAT));
  }
  const CurlText owned(path);
  return path;
}

// Posts one report to the API, signed at the moment it is sent: the signature's time is that of
// this attempt, the event id that of the report, the path that of this address.
TRestResponse PostReport(const std::string& address, const TSaleReport& report,
                         const tokens::TReportKeys& keys, const std::atomic<bool>* abandon,
                         const TRequestTrust& trust, const TDestinationPolicy& destinations) {
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const std::string signature =
      tokens::SignCallback(keys, now, report.EventId, RequestPath(address), report.Body);
  const TArrayParamRequest headers = {
      {std::string(tokens::kSignatureHeader), signature, rpHTTPHEADER, false},
      {std::string(tokens::kEventIdHeader), report.EventId, rpHTTPHEADER, false},
  };
  TRequestLimits limits;
  limits.Destinations = &destinations;
  return ExecuteRequest("POST", address, headers, report.Body, abandon, limits, trust);
}

}  // namespace

std::string TDmSitef::CallbackAddress(const std::string& pCallbackURL, const std::string& pSecret) {
  return pCallbackURL + "v1/sales/tef/callback/" + tokens::GenerateToken(pSecret, std::nullopt);
}

TReportDelivery TDmSitef::DeliverSaleReport(const TSaleReport& pReport,
                                            const std::atomic<bool>& pStop) {
  // A report is never signed with a key anyone could have: it waits, and goes once the
  // configuration has been corrected.
  const TJwtSecret secret = JwtSecret();
  const TReportSigning signing = ReadReportSigning(FService.Config(), secret);
  if (!signing.Keys) {
    if (!signing.HoldLog.empty()) Log(signing.HoldLog);
    return TReportDelivery::Unanswered;
  }
  try {
    const TRestResponse response =
        PostReport(CallbackAddress(pReport.CallbackURL, *secret.Key), pReport, *signing.Keys,
                   &pStop, SalesApiTrust(FService.Config()),
                   ReadDestinationPolicy(FService.Config(), FService.Options().Port));
    const TReportDelivery answer = CountedAttempt(
        ClassifyAnswer(response, [this](std::string_view text) { LogSaleReportFailure(text); }));
    if (answer == TReportDelivery::Accepted) {
      int64_t paymentId = 0;
      try {
        paymentId = PaymentId(response);
      } catch (const std::exception&) {
        // Taken all the same; the id it gave cannot be read.
      }
      fJournal.RecordReportByEvent(pReport.EventId, paymentId);
    }
    return answer;
  } catch (const EDestinationRefused& e) {
    // Asking again cannot help: the report is set aside for a person.
    LogSaleReportFailure(std::string(kCallbackLog) + e.what());
    return CountedAttempt(TReportDelivery::Refused);
  } catch (const std::exception& e) {
    LogSaleReportFailure(std::string(kCallbackLog) + e.what());
    return CountedAttempt(TReportDelivery::Unanswered);
  }
}

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

bool TDmSitef::SendSaleCallback(Json& pMessage, const TSaleData& pSale,
                                std::string* pReportEventId) {
  std::string callbackURL = pSale.CallbackURL;
  if (!callbackURL.empty() && callbackURL.back() != '/') callbackURL += '/';
  const int32_t empresaId = pSale.Empresa_Id;
  // Written before the ids are added: the API never receives "payment_id" nor "company_id".
  const TSaleReport report{callbackURL, WriteJson(pMessage), NewReportEventId()};
  if (pReportEventId != nullptr) *pReportEventId = report.EventId;
  // The payment is confirmed already: its report is on disk before the API is called, and stays
  // there until the API has answered, so that neither a crash during the call nor an API that
  // cannot be reached loses it.
  std::string record;
  try {
    record = fSaleReports.Keep(report);
  } catch (const std::exception& e) {
    Log(std::string("Não foi possível guardar o registro da transação para a API: ") + e.what());
  }

  int32_t paymentId = 0;
  bool accepted = false;
  bool answered = false;
  const TJwtSecret secret = JwtSecret();
  const TReportSigning signing = ReadReportSigning(FService.Config(), secret);
  if (!signing.Keys) {
    // Never signed with a key anyone could have: the report waits in the outbox until the
    // configuration is corrected, and the client is told it was not registered.
    if (!signing.HoldLog.empty()) Log(signing.HoldLog);
    fSaleReports.RetryLater(record);
    SetTransactionDataValue(pMessage, "payment_id", 0);
    SetTransactionDataValue(pMessage, "company_id", empresaId);
    return false;
  }
  try {
    const TRestResponse response =
        PostReport(CallbackAddress(callbackURL, *secret.Key), report, *signing.Keys, &fStopping,
                   SalesApiTrust(FService.Config()),
                   ReadDestinationPolicy(FService.Config(), FService.Options().Port));
    const TReportDelivery answer = CountedAttempt(
        ClassifyAnswer(response, [this](std::string_view text) { LogSaleReportFailure(text); }));
    answered = true;
    if (answer == TReportDelivery::Unanswered) {
      fSaleReports.RetryLater(record);
    } else {
      fSaleReports.Answered(record, answer);
    }
    if (answer == TReportDelivery::Accepted) {
      paymentId = PaymentId(response);
      accepted = true;
    }
  } catch (const EDestinationRefused& e) {
    // A destination the policy refuses (a name that resolves to a refused address, a redirect):
    // set aside for a person rather than tried for ever.
    LogSaleReportFailure(std::string(kCallbackLog) + e.what());
    CountedAttempt(TReportDelivery::Refused);
    fSaleReports.Answered(record, TReportDelivery::Refused);
  } catch (const std::exception& e) {
    // An API that cannot be reached or whose answer cannot be read must not cost the client the
    // outcome of a payment that is already confirmed: it is logged like a refusal.
    LogSaleReportFailure(std::string(kCallbackLog) + e.what());
    if (!answered) {
      CountedAttempt(TReportDelivery::Unanswered);
      fSaleReports.RetryLater(record);
    }
  }
  SetTransactionDataValue(pMessage, "payment_id", paymentId);
  SetTransactionDataValue(pMessage, "company_id", empresaId);
  return accepted;
}

}  // namespace kelvora::protocol
