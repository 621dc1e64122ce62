// The opening handshake: the request as read, its checks, the accept value, the answers and the
// limits on lines and headers.
#include "service/WebSocketHandshake.h"

#include "FakeByteStream.h"

#include <gtest/gtest.h>

namespace kelvora::service {
namespace {

using testing::FakeByteStream;

constexpr const char* kSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* kSampleAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

std::string Request(std::string_view keyLines) {
  return "GET / HTTP/1.1\r\nHost: localhost:443\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
         std::string(keyLines) + "Sec-WebSocket-Version: 13\r\n\r\n";
}

TEST(WebSocketHandshake, AnswersTheRfcSampleKeyWrittenWithExtraBlanks) {
  FakeByteStream stream(Request("Sec-WebSocket-Key:    dGhlIHNhbXBsZSBub25jZQ==  \t \r\n") +
                        "\x81\x80 a frame sent right behind the request");
  WebSocketHandshake(stream, TOriginPolicy());
  ASSERT_EQ(stream.writes.size(), 1u) << "the answer goes out in one write";
  EXPECT_EQ(stream.writes[0],
            "HTTP/1.1 101 Switching Protocols\r\n"
            "Upgrade: websocket\r\n"
            "Connection: Upgrade\r\n"
            "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
            "Access-Control-Allow-Origin: *\r\n"
            "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
            "Access-Control-Allow-Headers: Content-Type\r\n"
            "Access-Control-Allow-Credentials: true\r\n"
            "\r\n");
  EXPECT_EQ(stream.Unread(), "\x81\x80 a frame sent right behind the request")
      << "nothing past the empty line is consumed";
}

TEST(ReadHandshakeRequest, TakesHeadersWithoutRegardToCase) {
  struct Case {
    const char* what;
    std::string lines;
    std::string key;
    std::optional<std::string> origin;
  };
  const Case cases[] = {
      {"sample key", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", kSampleKey, {}},
      {"no blank after the colon", "Sec-WebSocket-Key:abc\r\n", "abc", {}},
      {"lines ended by LF alone", "Sec-WebSocket-Key: lf-only\n", "lf-only", {}},
      {"lower-case header", "sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n", kSampleKey, {}},
      {"upper-case header", "SEC-WEBSOCKET-KEY: dGhlIHNhbXBsZSBub25jZQ==\r\n", kSampleKey, {}},
      {"blank before the colon", "Sec-WebSocket-Key : abc\r\n", "", {}},
      {"no key header", "", "", {}},
      {"the last key wins",
       "Sec-WebSocket-Key: first\r\nSec-WebSocket-Key: second\r\n",
       "second",
       {}},
      {"bytes above 127 read as '?'", "Sec-WebSocket-Key: ch\xC3\xA1ve\r\n", "ch??ve", {}},
      {"an origin", "origin:  https://Pos.Example  \r\n", "", "https://Pos.Example"},
      {"an empty origin", "Origin:\r\n", "", ""},
      {"two origins are joined", "Origin: https://a\r\nOrigin: https://b\r\n", "",
       "https://a, https://b"},
      {"a line without a colon is skipped", "no colon here\r\nSec-WebSocket-Key: k\r\n", "k", {}},
  };
  for (const Case& c : cases) {
    FakeByteStream stream(Request(c.lines));
    const THandshakeRequest request = ReadHandshakeRequest(stream);
    EXPECT_EQ(request.Key, c.key) << c.what;
    EXPECT_EQ(request.Origin, c.origin) << c.what;
    EXPECT_EQ(request.Method, "GET") << c.what;
    EXPECT_EQ(request.Upgrade, "websocket") << c.what;
    EXPECT_EQ(request.Connection, "Upgrade") << c.what;
    EXPECT_EQ(request.Version, "13") << c.what;
    EXPECT_EQ(stream.Unread(), "") << c.what;
  }
}

// A browser's request with one line replaced (or removed, when the replacement is empty).
std::string BrowserRequestWith(std::string_view header, std::string_view replacement) {
  std::string request =
      "GET /pdv HTTP/1.1\r\nHost: localhost\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
      "Origin: https://pos.example\r\nSec-WebSocket-Version: 13\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
  const size_t at = request.find(std::string(header) + ":");
  const size_t end = request.find("\r\n", at) + 2;
  request.replace(at, end - at, replacement.empty() ? "" : std::string(replacement) + "\r\n");
  return request;
}

TEST(CheckHandshake, RequiresWhatEveryBrowserSends) {
  struct Case {
    const char* what;
    std::string request;
    THandshakeVerdict verdict;
  };
  const std::string browser = BrowserRequestWith("Host", "Host: localhost");
  const Case cases[] = {
      {"a browser's request", browser, THandshakeVerdict::Accepted},
      {"method POST", "POST" + browser.substr(3), THandshakeVerdict::BadRequest},
      {"method in lower case", "get" + browser.substr(3), THandshakeVerdict::BadRequest},
      {"no Upgrade", BrowserRequestWith("Upgrade", ""), THandshakeVerdict::BadRequest},
      {"Upgrade: h2c", BrowserRequestWith("Upgrade", "Upgrade: h2c"),
       THandshakeVerdict::BadRequest},
      {"Upgrade in upper case", BrowserRequestWith("Upgrade", "Upgrade: WebSocket"),
       THandshakeVerdict::Accepted},
      {"no Connection", BrowserRequestWith("Connection", ""), THandshakeVerdict::BadRequest},
      {"Connection: keep-alive", BrowserRequestWith("Connection", "Connection: keep-alive"),
       THandshakeVerdict::BadRequest},
      {"Connection as Firefox sends it",
       BrowserRequestWith("Connection", "Connection: keep-alive, Upgrade"),
       THandshakeVerdict::Accepted},
      {"Connection: upgraded (not the token)",
       BrowserRequestWith("Connection", "Connection: upgraded"), THandshakeVerdict::BadRequest},
      {"no version", BrowserRequestWith("Sec-WebSocket-Version", ""),
       THandshakeVerdict::BadRequest},
      {"version 8", BrowserRequestWith("Sec-WebSocket-Version", "Sec-WebSocket-Version: 8"),
       THandshakeVerdict::BadRequest},
      {"no key", BrowserRequestWith("Sec-WebSocket-Key", ""), THandshakeVerdict::BadRequest},
      {"an empty key", BrowserRequestWith("Sec-WebSocket-Key", "Sec-WebSocket-Key:  "),
       THandshakeVerdict::BadRequest},
      {"no Origin", BrowserRequestWith("Origin", ""), THandshakeVerdict::Accepted},
      {"a foreign Origin", BrowserRequestWith("Origin", "Origin: https://evil.example"),
       THandshakeVerdict::Forbidden},
      {"Origin null", BrowserRequestWith("Origin", "Origin: null"), THandshakeVerdict::Forbidden},
      {"the listed Origin in upper case with its default port",
       BrowserRequestWith("Origin", "Origin: HTTPS://POS.EXAMPLE:443"),
       THandshakeVerdict::Accepted},
      {"a bad request from a foreign Origin is a bad request",
       "PUT" + BrowserRequestWith("Origin", "Origin: https://evil.example").substr(3),
       THandshakeVerdict::BadRequest},
  };
  std::vector<std::string> invalid;
  const TOriginPolicy restricted = TOriginPolicy::FromSetting("https://pos.example", invalid);
  for (const Case& c : cases) {
    FakeByteStream stream(c.request);
    EXPECT_EQ(CheckHandshake(ReadHandshakeRequest(stream), restricted), c.verdict) << c.what;
  }
  FakeByteStream foreign(BrowserRequestWith("Origin", "Origin: https://evil.example"));
  EXPECT_EQ(CheckHandshake(ReadHandshakeRequest(foreign), TOriginPolicy()),
            THandshakeVerdict::Accepted)
      << "without a list every origin is accepted";
}

TEST(WebSocketHandshake, AnswersARefusalAndEndsTheConnection) {
  std::vector<std::string> invalid;
  const TOriginPolicy restricted = TOriginPolicy::FromSetting("https://pos.example", invalid);

  FakeByteStream bad(BrowserRequestWith("Sec-WebSocket-Version", ""));
  EXPECT_THROW(WebSocketHandshake(bad, restricted), EHandshakeRefused);
  EXPECT_EQ(bad.writes, std::vector<std::string>{"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                                                 "Connection: close\r\n\r\n"});

  FakeByteStream foreign(BrowserRequestWith("Origin", "Origin: https://evil.example\x01"));
  try {
    WebSocketHandshake(foreign, restricted);
    ADD_FAILURE() << "a foreign origin was accepted";
  } catch (const EOriginRefused& e) {
    EXPECT_EQ(e.Origin, "https://evil.example") << "control characters at the end are trimmed";
  }
  EXPECT_EQ(foreign.writes,
            std::vector<std::string>{"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n"
                                     "Connection: close\r\n\r\n"});
}

TEST(ReadHandshakeRequest, Allows100HeaderLinesAndNoMore) {
  auto withHeaders = [](size_t count) {
    std::string request = "GET / HTTP/1.1\r\n";
    for (size_t i = 0; i < count; ++i) request += "X-Header-" + std::to_string(i) + ": v\r\n";
    return request + "\r\nafter";
  };
  FakeByteStream hundred(withHeaders(100));
  EXPECT_NO_THROW(ReadHandshakeRequest(hundred));
  EXPECT_EQ(hundred.Unread(), "after");
  FakeByteStream more(withHeaders(101));
  EXPECT_THROW(ReadHandshakeRequest(more), ETooManyHeaders);
}

TEST(GenerateSecWebSocketAccept, MatchesTheRfcAndHashesAnEmptyKeyToo) {
  EXPECT_EQ(GenerateSecWebSocketAccept(kSampleKey), kSampleAccept);
  // Base64 of SHA-1("258EAFA5-E914-47DA-95CA-C5AB0DC85B11"): what a request without a key gets.
  EXPECT_EQ(GenerateSecWebSocketAccept(""), "Kfh9QIsMVZcl6xEPYxPHzW8SZ8w=");
}

TEST(ReadHandshakeLine, LimitsALineTo16384Characters) {
  struct Case {
    std::string line;
    bool accepted;
  };
  const Case cases[] = {
      {std::string(16384, 'a') + "\r\n", true}, {std::string(16384, 'a') + "\n", true},
      {std::string(16385, 'a') + "\n", false},  {std::string(16385, 'a') + "\r\n", false},
      {std::string(100000, 'a'), false},  // no line end at all: refused without reading it all
  };
  for (const Case& c : cases) {
    FakeByteStream stream(c.line + "rest", 1024);
    if (c.accepted) {
      EXPECT_EQ(ReadHandshakeLine(stream), std::string(16384, 'a'));
      EXPECT_EQ(stream.Unread(), "rest");
    } else {
      EXPECT_THROW(ReadHandshakeLine(stream), ELineTooLong) << c.line.size();
      EXPECT_GT(stream.Unread().size(), c.line.size() > 20000 ? 80000u : 0u);
    }
  }
}

TEST(WebSocketHandshake, FailsWhenTheRequestIsCutShort) {
  for (std::string cut : {std::string(), std::string("GET / HTTP/1.1\r\n"),
                          std::string("GET / HTTP/1.1\r\nSec-WebSocket-Key: abc")}) {
    FakeByteStream stream(cut);
    EXPECT_THROW(WebSocketHandshake(stream, TOriginPolicy()), EConnectionClosed) << cut;
    EXPECT_TRUE(stream.writes.empty());
  }
}

}  // namespace
}  // namespace kelvora::service
