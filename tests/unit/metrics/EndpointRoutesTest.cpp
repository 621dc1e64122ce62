// The endpoint's answers: the token before anything else, GET of /metrics and /health only, the
// format the Accept header asks for, and response bytes a client can read to the end.
#include "metrics/EndpointRoutes.h"

#include <gtest/gtest.h>

#include "ProbeFixture.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::metrics {
namespace {

using testing::ProbeOf;
using testing::TProbeValues;

THttpRequest Request(std::string method, std::string path, std::string authorization = "",
                     std::string accept = "", std::string host = "") {
  return {std::move(method), std::move(path), std::move(accept), std::move(authorization),
          std::move(host)};
}

class EndpointRoutes : public ::testing::Test {
 protected:
  kelvora::testing::TempDir base_;
  TProbeValues values_;
  TServiceProbe probe_ = ProbeOf(values_, base_.Path());
};

TEST_F(EndpointRoutes, AsksForTheTokenBeforeAnythingElse) {
  const std::string token = "0123456789abcdef";
  const struct {
    const char* Name;
    THttpRequest Request;
    int Status;
  } cases[] = {
      {"metrics with the token", Request("GET", "/metrics", "Bearer " + token), 200},
      {"health with the token", Request("GET", "/health", "Bearer " + token), 200},
      {"metrics without it", Request("GET", "/metrics"), 401},
      {"health with a wrong one", Request("GET", "/health", "Bearer 0123456789abcdeX"), 401},
      {"an unknown path without it", Request("GET", "/admin"), 401},
      {"another method without it", Request("POST", "/metrics"), 401},
      {"an unknown path with it", Request("GET", "/admin", "Bearer " + token), 404},
      {"another method with it", Request("DELETE", "/metrics", "Bearer " + token), 405},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Respond(c.Request, token, probe_).Status, c.Status);
  }
}

TEST_F(EndpointRoutes, AnswersGetOfMetricsAndHealthOnlyWhenNoTokenIsSet) {
  const std::pair<THttpRequest, int> cases[] = {
      {Request("GET", "/metrics"), 200},    {Request("GET", "/health"), 200},
      {Request("HEAD", "/metrics"), 405},   {Request("POST", "/health"), 405},
      {Request("GET", "/"), 404},           {Request("GET", "/metrics/"), 404},
      {Request("GET", "/../metrics"), 404}, {Request("GET", "/Metrics"), 404},
  };
  for (const auto& [request, status] : cases) {
    SCOPED_TRACE(request.Method + " " + request.Path);
    EXPECT_EQ(Respond(request, "", probe_).Status, status);
  }
}

// Without a token a web page could rebind its own name to 127.0.0.1 and read the endpoint; the
// browser still sends the page's name as Host, so only this machine's names are answered.
TEST_F(EndpointRoutes, WithoutATokenAnswersOnlyTheLoopbackHost) {
  const std::pair<const char*, int> cases[] = {
      {"127.0.0.1:9464", 200},
      {"localhost:9464", 200},
      {"LOCALHOST", 200},
      {"[::1]:9464", 200},
      {"127.1.2.3", 200},
      {"attacker.example:9464", 421},
      {"localhost.attacker.example", 421},
      {"128.0.0.1:9464", 421},
      {"[::2]:9464", 421},
      {"127.0.0.1.nip.io", 421},
      {"[::1", 421},
      {"127.0.0.256", 421},
  };
  for (const auto& [host, status] : cases) {
    SCOPED_TRACE(host);
    EXPECT_EQ(Respond(Request("GET", "/health", "", "", host), "", probe_).Status, status);
  }
  // With a token the token decides, whatever the name (a fleet scrapes the till by its address).
  const std::string token = "0123456789abcdef";
  EXPECT_EQ(Respond(Request("GET", "/health", "Bearer " + token, "", "till-7.store.example"), token,
                    probe_)
                .Status,
            200);
}

TEST_F(EndpointRoutes, WritesTheFormatTheScraperAsksFor) {
  const THttpResponse text = Respond(Request("GET", "/metrics", "", "text/plain"), "", probe_);
  EXPECT_EQ(text.ContentType, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(text.Body.find("# TYPE kelvora_transactions_total counter"), std::string::npos);
  EXPECT_NE(text.Body.find("kelvora_connections 2"), std::string::npos);
  EXPECT_EQ(text.Body.find("# EOF"), std::string::npos);

  const THttpResponse open =
      Respond(Request("GET", "/metrics", "",
                      "application/openmetrics-text;version=1.0.0,text/plain;version=0.0.4;q=0.5"),
              "", probe_);
  EXPECT_EQ(open.ContentType, "application/openmetrics-text; version=1.0.0; charset=utf-8");
  EXPECT_NE(open.Body.find("# TYPE kelvora_transactions counter"), std::string::npos);
  EXPECT_TRUE(open.Body.ends_with("# EOF\n"));
}

TEST_F(EndpointRoutes, ResponseBytesCarryTheLengthAndCloseTheConnection) {
  THttpResponse response = Refusal(401);
  const std::string bytes = ResponseBytes(response);
  EXPECT_TRUE(bytes.starts_with("HTTP/1.1 401 Unauthorized\r\n"));
  EXPECT_NE(bytes.find("\r\nWWW-Authenticate: Bearer\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nConnection: close\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nContent-Length: " + std::to_string(response.Body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(bytes.ends_with("\r\n\r\n" + response.Body));
  EXPECT_NE(ResponseBytes(Refusal(405)).find("\r\nAllow: GET\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kelvora::metrics
