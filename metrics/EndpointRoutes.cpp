// Routing of the endpoint's requests and the bytes of its responses.
#include "metrics/EndpointRoutes.h"

#include "metrics/Health.h"
#include "metrics/OpenMetrics.h"
#include "metrics/TelemetryState.h"

namespace kelvora::metrics {
namespace {

std::string_view Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 421:
      return "Misdirected Request";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Error";
  }
}

}  // namespace

THttpResponse Refusal(int status) {
  return {status, "text/plain; charset=utf-8", std::string(Reason(status)) + "\n"};
}

THttpResponse Respond(const THttpRequest& request, std::string_view token,
                      const TServiceProbe& probe) {
  // The token is checked first, so that a caller without it learns nothing, not even which
  // paths exist.
  if (!token.empty() && !BearerTokenMatches(request.Authorization, token)) return Refusal(401);
  // Without a token only the machine itself may ask: a web page the cashier opens could rebind
  // its own name to 127.0.0.1 and read the answers, but it cannot make the browser send another
  // Host than its own name.
  if (token.empty() && !request.Host.empty() && !IsLoopbackHost(request.Host)) {
    return Refusal(421);
  }
  if (request.Path != "/metrics" && request.Path != "/health") return Refusal(404);
  if (request.Method != "GET") return Refusal(405);
  if (request.Path == "/health") {
    const THealth health = BuildHealth(probe, EventState(), std::chrono::system_clock::now());
    return {health.Status, "application/json; charset=utf-8", health.Body};
  }
  const std::vector<prometheus::MetricFamily> families = CollectMetrics(probe);
  if (WantsOpenMetrics(request.Accept)) {
    return {200, std::string(kOpenMetricsContentType), SerializeOpenMetrics(families)};
  }
  return {200, std::string(kPrometheusTextContentType), SerializePrometheusText(families)};
}

std::string ResponseBytes(const THttpResponse& response) {
  std::string bytes = "HTTP/1.1 " + std::to_string(response.Status) + " " +
                      std::string(Reason(response.Status)) + "\r\n";
  bytes += "Content-Type: " + response.ContentType + "\r\n";
  bytes += "Content-Length: " + std::to_string(response.Body.size()) + "\r\n";
  if (response.Status == 401) bytes += "WWW-Authenticate: Bearer\r\n";
  if (response.Status == 405) bytes += "Allow: GET\r\n";
  bytes += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
  return bytes + response.Body;
}

}  // namespace kelvora::metrics
