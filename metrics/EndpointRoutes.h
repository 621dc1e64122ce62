// What the endpoint answers to one request: /metrics in the format asked for, /health, and the
// refusals (no token, wrong method, unknown path), with the bytes of the whole response.
#pragma once

#include <string>
#include <string_view>

#include "metrics/HttpRequest.h"
#include "metrics/Telemetry.h"

namespace kelvora::metrics {

struct THttpResponse {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
};

// The answer to request; token, when not empty, is the bearer token every request must carry.
THttpResponse Respond(const THttpRequest& request, std::string_view token,
                      const TServiceProbe& probe);

// The answer to a request that could not be read (status 400, 408, 431 or 505).
THttpResponse Refusal(int status);

// Status line, headers and body, for a connection that closes after it.
std::string ResponseBytes(const THttpResponse& response);

}  // namespace kelvora::metrics
