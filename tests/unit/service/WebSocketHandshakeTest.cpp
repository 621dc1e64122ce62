// The opening handshake: the key header as read, the accept value, the answer and the line limit.
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
  WebSocketHandshake(stream);
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

TEST(ReadSecWebSocketKey, TakesOnlyTheExactCaseHeader) {
  struct Case {
    const char* what;
    std::string lines;
    std::string key;
  };
  const Case cases[] = {
      {"sample key", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", kSampleKey},
      {"no blank after the colon", "Sec-WebSocket-Key:abc\r\n", "abc"},
      {"lines ended by LF alone", "Sec-WebSocket-Key: lf-only\n", "lf-only"},
      {"lower-case header", "sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n", ""},
      {"upper-case header", "SEC-WEBSOCKET-KEY: dGhlIHNhbXBsZSBub25jZQ==\r\n", ""},
      {"blank before the colon", "Sec-WebSocket-Key : abc\r\n", ""},
      {"no key header", "", ""},
      {"the last key wins", "Sec-WebSocket-Key: first\r\nSec-WebSocket-Key: second\r\n", "second"},
      {"bytes above 127 read as '?'", "Sec-WebSocket-Key: ch\xC3\xA1ve\r\n", "ch??ve"},
  };
  for (const Case& c : cases) {
    FakeByteStream stream(Request(c.lines));
    EXPECT_EQ(ReadSecWebSocketKey(stream), c.key) << c.what;
    EXPECT_EQ(stream.Unread(), "") << c.what;
  }
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
    EXPECT_THROW(WebSocketHandshake(stream), EConnectionClosed) << cut;
    EXPECT_TRUE(stream.writes.empty());
  }
}

}  // namespace
}  // namespace kelvora::service
