// Fuzz target of the WebSocket opening handshake: arbitrary request bytes, the answer held against
// the request read independently: its key, the headers every browser sends, and its origin.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/SliceStream.h"
#include "service/WebSocketHandshake.h"

namespace kelvora::fuzz {
namespace {

enum class Outcome { Answered, Closed, LineTooLong, TooManyHeaders, BadRequest, Forbidden };

constexpr std::string_view kAllowedOrigin = "https://pos.example";

struct ExpectedHandshake {
  Outcome outcome = Outcome::Closed;
  size_t length = 0;  // bytes of the request, up to and including the LF of its empty line
  std::string key;
};

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// True when the comma-separated list has an item equal to token (lower case) once trimmed and
// lowered.
bool HasToken(std::string_view list, std::string_view token) {
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    if (Lowered(Trimmed(list.substr(start, comma - start))) == token) return true;
    if (comma == std::string_view::npos) return false;
    start = comma + 1;
  }
}

bool IsBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Reads the request as the handshake must: LF ends a line and a CR before it is dropped; a line
// may be one character over the limit while its CR may still follow; bytes above 127 read as '?';
// at most kMaxHandshakeHeaders header lines. Then judges it with restricted origins or none.
ExpectedHandshake Expect(std::string_view bytes, bool restricted) {
  ExpectedHandshake expected;
  std::string method;
  std::string upgrade;
  std::string connection;
  std::string version;
  std::optional<std::string> origin;
  bool requestLine = true;
  size_t headers = 0;
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
    if (requestLine) {
      method = line.substr(0, line.find(' '));
      requestLine = false;
      continue;
    }
    if (line.empty()) break;
    if (++headers > service::kMaxHandshakeHeaders) {
      expected.outcome = Outcome::TooManyHeaders;
      return expected;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = Lowered(std::string_view(line).substr(0, colon));
    const std::string value(Trimmed(std::string_view(line).substr(colon + 1)));
    const auto join = [&](std::string& list) { list += (list.empty() ? "" : ", ") + value; };
    if (name == "upgrade") join(upgrade);
    if (name == "connection") join(connection);
    if (name == "sec-websocket-version") version = value;
    if (name == "sec-websocket-key") expected.key = value;
    if (name == "origin") {
      if (!origin) origin.emplace();
      join(*origin);
    }
  }
  expected.length = start;
  const bool wellFormed = method == "GET" && HasToken(upgrade, "websocket") &&
                          HasToken(connection, "upgrade") && version == "13" &&
                          !expected.key.empty();
  if (!wellFormed) {
    expected.outcome = Outcome::BadRequest;
  } else if (restricted && origin && service::NormalizeOrigin(*origin) != kAllowedOrigin) {
    expected.outcome = Outcome::Forbidden;
  } else {
    expected.outcome = Outcome::Answered;
  }
  return expected;
}

}  // namespace
}  // namespace kelvora::fuzz

// Byte 0 chooses the read piece size (bits 0-2: 1 to 8 bytes) and whether only kAllowedOrigin is
// allowed (bit 3); the rest is the client's request.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Outcome;
  using fuzz::Require;
  if (size == 0) return 0;
  const bool restricted = (data[0] & 0x08) != 0;
  const std::string_view input = fuzz::AsText(data + 1, size - 1);
  const fuzz::ExpectedHandshake expected = fuzz::Expect(input, restricted);
  std::vector<std::string> invalid;
  const service::TOriginPolicy origins =
      restricted ? service::TOriginPolicy::FromSetting(fuzz::kAllowedOrigin, invalid)
                 : service::TOriginPolicy();

  fuzz::SliceStream stream(input, (data[0] & 0x07) + 1);
  Outcome outcome = Outcome::Answered;
  try {
    service::WebSocketHandshake(stream, origins);
  } catch (const service::EConnectionClosed&) {
    outcome = Outcome::Closed;
  } catch (const service::ELineTooLong&) {
    outcome = Outcome::LineTooLong;
  } catch (const service::ETooManyHeaders&) {
    outcome = Outcome::TooManyHeaders;
  } catch (const service::EOriginRefused&) {
    outcome = Outcome::Forbidden;
  } catch (const service::EHandshakeRefused&) {
    outcome = Outcome::BadRequest;
  }
  Require(outcome == expected.outcome, "the request ends, or is refused, where its bytes say");
  if (outcome == Outcome::Closed || outcome == Outcome::LineTooLong ||
      outcome == Outcome::TooManyHeaders) {
    Require(stream.writes.empty(), "nothing is answered to an unfinished request");
    return 0;
  }
  Require(stream.Position() == expected.length, "the request is read up to its empty line only");
  if (outcome != Outcome::Answered) {
    Require(stream.writes.size() == 1 &&
                stream.writes[0] ==
                    service::RefusalResponse(outcome == Outcome::Forbidden
                                                 ? service::THandshakeVerdict::Forbidden
                                                 : service::THandshakeVerdict::BadRequest),
            "one refusal, 400 for a malformed request and 403 for a foreign origin");
    return 0;
  }

  const std::string accept = service::GenerateSecWebSocketAccept(expected.key);
  Require(accept.size() == 28 && accept.find('=') == 27,
          "the accept value is 28 characters, the last one the padding sign");
  for (size_t i = 0; i < 27; ++i) Require(fuzz::IsBase64(accept[i]), "the accept value is base64");
  Require(stream.writes.size() == 1 && stream.writes[0] == service::HandshakeResponse(accept),
          "one answer, carrying the accept value of the request's last key");
  return 0;
}
