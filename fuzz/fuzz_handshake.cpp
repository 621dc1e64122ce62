// Fuzz target of the WebSocket opening handshake: arbitrary request bytes, the answer held against
// the key found by reading the request lines independently.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "fuzz/SliceStream.h"
#include "service/WebSocketHandshake.h"

namespace kelvora::fuzz {
namespace {

enum class Outcome { Answered, Closed, LineTooLong };

struct ExpectedHandshake {
  Outcome outcome = Outcome::Closed;
  size_t length = 0;  // bytes of the request, up to and including the LF of its empty line
  std::string key;
};

bool IsBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Reads the request as the handshake must: LF ends a line and a CR before it is dropped; a line
// may be one character over the limit while its CR may still follow; bytes above 127 read as '?'.
ExpectedHandshake Expect(std::string_view bytes) {
  constexpr std::string_view kKeyHeader = "Sec-WebSocket-Key:";
  ExpectedHandshake expected;
  size_t start = 0;
  for (;;) {
    const size_t end = bytes.find('\n', start);
    const size_t available = (end == std::string_view::npos ? bytes.size() : end) - start;
    if (available > service::kMaxHandshakeLine + 1) {
      expected.outcome = Outcome::LineTooLong;
      return expected;
    }
    if (end == std::string_view::npos) return expected;
    std::string line(bytes.substr(start, available));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > service::kMaxHandshakeLine) {
      expected.outcome = Outcome::LineTooLong;
      return expected;
    }
    for (char& c : line) {
      if (static_cast<unsigned char>(c) > 127) c = '?';
    }
    start = end + 1;
    if (line.empty()) {
      expected.outcome = Outcome::Answered;
      expected.length = start;
      return expected;
    }
    if (line.starts_with(kKeyHeader)) {
      std::string_view key = std::string_view(line).substr(kKeyHeader.size());
      while (!key.empty() && static_cast<unsigned char>(key.front()) <= ' ') key.remove_prefix(1);
      while (!key.empty() && static_cast<unsigned char>(key.back()) <= ' ') key.remove_suffix(1);
      expected.key = key;
    }
  }
}

}  // namespace
}  // namespace kelvora::fuzz

// Byte 0 chooses the read piece size (1 to 8 bytes); the rest is the client's request.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  if (size == 0) return 0;
  const std::string_view input = fuzz::AsText(data + 1, size - 1);
  const fuzz::ExpectedHandshake expected = fuzz::Expect(input);

  fuzz::SliceStream stream(input, (data[0] & 0x07) + 1);
  fuzz::Outcome outcome = fuzz::Outcome::Answered;
  try {
    service::WebSocketHandshake(stream);
  } catch (const service::EConnectionClosed&) {
    outcome = fuzz::Outcome::Closed;
  } catch (const service::ELineTooLong&) {
    outcome = fuzz::Outcome::LineTooLong;
  }
  Require(outcome == expected.outcome, "the request ends, or is refused, where its bytes say");
  if (outcome != fuzz::Outcome::Answered) {
    Require(stream.writes.empty(), "nothing is answered to an unfinished request");
    return 0;
  }
  Require(stream.Position() == expected.length, "the request is read up to its empty line only");

  const std::string accept = service::GenerateSecWebSocketAccept(expected.key);
  Require(accept.size() == 28 && accept.find('=') == 27,
          "the accept value is 28 characters, the last one the padding sign");
  for (size_t i = 0; i < 27; ++i) Require(fuzz::IsBase64(accept[i]), "the accept value is base64");
  Require(stream.writes.size() == 1 && stream.writes[0] == service::HandshakeResponse(accept),
          "one answer, carrying the accept value of the request's last key");
  return 0;
}
