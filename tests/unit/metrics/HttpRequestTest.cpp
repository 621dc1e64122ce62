// The request reader against hostile bytes: every request that is not one plain GET head within
// the limits is refused with its status, and a head still arriving waits for more.
#include "metrics/HttpRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvora::metrics {
namespace {

using namespace std::string_literals;

struct TRequestCase {
  const char* Name;
  std::string Bytes;
  TParseState State;
  int Status;
};

std::string Repeated(std::string_view text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

TEST(ParseHttpRequest, AnswersEachKindOfRequestAsItShould) {
  const TRequestCase cases[] = {
      {"a scrape", "GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: */*\r\n\r\n", TParseState::Complete,
       0},
      {"HTTP/1.0 without headers", "GET /health HTTP/1.0\r\n\r\n", TParseState::Complete, 0},
      {"a head still arriving", "GET /metrics HTTP/1.1\r\nHost: x\r\n", TParseState::Incomplete, 0},
      {"nothing yet", "", TParseState::Incomplete, 0},
      {"an empty request line", "\r\n\r\n", TParseState::Invalid, 400},
      {"no version", "GET /metrics\r\n\r\n", TParseState::Invalid, 400},
      {"HTTP/2 preface", "PRI * HTTP/2.0\r\n\r\n", TParseState::Invalid, 400},
      {"another version", "GET /metrics HTTP/2.0\r\n\r\n", TParseState::Invalid, 505},
      {"not HTTP at all", "\x16\x03\x01\x02\x00\r\n\r\n"s, TParseState::Invalid, 400},
      {"a target without a slash", "GET metrics HTTP/1.1\r\n\r\n", TParseState::Invalid, 400},
      {"an absolute target", "GET http://x/metrics HTTP/1.1\r\n\r\n", TParseState::Invalid, 400},
      {"a control character in the target", "GET /met\x01rics HTTP/1.1\r\n\r\n",
       TParseState::Invalid, 400},
      {"two spaces", "GET  /metrics HTTP/1.1\r\n\r\n", TParseState::Invalid, 400},
      {"a body announced", "GET /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
       TParseState::Invalid, 400},
      {"a chunked body", "GET /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
       TParseState::Invalid, 400},
      {"a folded header", "GET /metrics HTTP/1.1\r\nAccept: a\r\n b\r\n\r\n", TParseState::Invalid,
       400},
      {"a bare line feed", "GET /metrics HTTP/1.1\r\nAccept: a\nHost: x\r\n\r\n",
       TParseState::Invalid, 400},
      {"a header without a colon", "GET /metrics HTTP/1.1\r\nAccept\r\n\r\n", TParseState::Invalid,
       400},
      {"a space before the colon", "GET /metrics HTTP/1.1\r\nAccept : a\r\n\r\n",
       TParseState::Invalid, 400},
      {"a control character in a value", "GET /metrics HTTP/1.1\r\nAccept: a\x7f\r\n\r\n",
       TParseState::Invalid, 400},
      {"two Authorization headers",
       "GET /metrics HTTP/1.1\r\nAuthorization: Bearer a\r\nAuthorization: Bearer b\r\n\r\n",
       TParseState::Invalid, 400},
      {"too many header lines",
       "GET /metrics HTTP/1.1\r\n" + Repeated("X: y\r\n", kMaxHeaderLines + 1) + "\r\n",
       TParseState::Invalid, 431},
      {"a head over the limit, unfinished",
       "GET /metrics HTTP/1.1\r\nX: " + std::string(kMaxRequestBytes, 'a'), TParseState::Invalid,
       431},
      {"a head over the limit, finished",
       "GET /metrics HTTP/1.1\r\nX: " + std::string(kMaxRequestBytes, 'a') + "\r\n\r\n",
       TParseState::Invalid, 431},
      {"a target over the limit",
       "GET /" + std::string(kMaxTargetLength, 'a') + " HTTP/1.1\r\n\r\n", TParseState::Invalid,
       400},
  };
  for (const TRequestCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TParseResult result = ParseHttpRequest(c.Bytes);
    EXPECT_EQ(result.State, c.State);
    EXPECT_EQ(result.Status, c.Status);
  }
}

TEST(ParseHttpRequest, KeepsWhatTheEndpointUses) {
  const TParseResult result = ParseHttpRequest(
      "GET /metrics?debug=1 HTTP/1.1\r\naccept:  application/openmetrics-text \r\n"
      "AUTHORIZATION: Bearer abc\r\nX-Other: ignored\r\n\r\nGET /health HTTP/1.1\r\n\r\n");
  ASSERT_EQ(result.State, TParseState::Complete);
  EXPECT_EQ(result.Request.Method, "GET");
  EXPECT_EQ(result.Request.Path, "/metrics");
  EXPECT_EQ(result.Request.Accept, "application/openmetrics-text");
  EXPECT_EQ(result.Request.Authorization, "Bearer abc");
}

TEST(BearerTokenMatches, TakesOnlyTheExactTokenAfterTheBearerScheme) {
  const std::string token = "0123456789abcdef";
  const std::pair<std::string, bool> cases[] = {
      {"Bearer 0123456789abcdef", true},
      {"bearer 0123456789abcdef", true},
      {"Bearer   0123456789abcdef ", true},
      {"Bearer 0123456789abcdeF", false},
      {"Bearer 0123456789abcde", false},
      {"Bearer 0123456789abcdef0", false},
      {"Basic 0123456789abcdef", false},
      {"0123456789abcdef", false},
      {"Bearer ", false},
      {"", false},
  };
  for (const auto& [header, matches] : cases) {
    SCOPED_TRACE(header);
    EXPECT_EQ(BearerTokenMatches(header, token), matches);
  }
  EXPECT_FALSE(BearerTokenMatches("Bearer ", "")) << "an empty token matches nothing";
}

}  // namespace
}  // namespace kelvora::metrics
