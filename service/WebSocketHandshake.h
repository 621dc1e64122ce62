// The WebSocket opening handshake as the service answers it: the request is read and checked for
// what every browser sends (RFC 6455 section 4.2.1) and for an allowed origin, then answered 101,
// 400 or 403.
#pragma once

#include "service/ByteStream.h"
#include "service/OriginPolicy.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora::service {

// The longest request line accepted, in characters, line break excluded.
inline constexpr size_t kMaxHandshakeLine = 16384;

// The most header lines a request may carry. A browser sends about fifteen; the bound keeps a peer
// from holding a connection thread with an endless request.
inline constexpr size_t kMaxHandshakeHeaders = 100;

// A request line longer than kMaxHandshakeLine; it ends the connection.
class ELineTooLong : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A request of more than kMaxHandshakeHeaders header lines; it ends the connection unanswered,
// like an overlong line.
class ETooManyHeaders : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The request was answered with a refusal (400 or 403); it ends the connection.
class EHandshakeRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A refusal for the request's origin; Origin holds the header as received.
class EOriginRefused : public EHandshakeRefused {
 public:
  explicit EOriginRefused(std::string origin)
      : EHandshakeRefused("Origin not allowed"), Origin(std::move(origin)) {}
  std::string Origin;
};

// Reads one line: the bytes up to LF, a CR just before the LF dropped, each byte above 127 taken
// as '?' (the line is read as ASCII). Throws ELineTooLong past kMaxHandshakeLine characters and
// EConnectionClosed when the stream ends first.
std::string ReadHandshakeLine(ByteStream& stream);

// What the service looks at in an opening request. Header names are compared without regard to
// case, values have blanks and control characters trimmed from both ends. Repeated Upgrade,
// Connection and Origin headers are joined with ", " as HTTP lists are; for the others the last one
// wins.
struct THandshakeRequest {
  std::string Method;  // the request line up to its first blank
  std::string Upgrade;
  std::string Connection;
  std::string Version;  // Sec-WebSocket-Version
  std::string Key;      // Sec-WebSocket-Key
  std::optional<std::string> Origin;
};

// Reads the request line and the header lines up to the empty line that ends the request, and
// nothing after it. Throws ELineTooLong, ETooManyHeaders or EConnectionClosed.
THandshakeRequest ReadHandshakeRequest(ByteStream& stream);

enum class THandshakeVerdict { Accepted, BadRequest, Forbidden };

// Accepted when the method is GET, Upgrade lists "websocket" and Connection lists "Upgrade" (both
// without regard to case), Sec-WebSocket-Version is 13 and a key is present, and the origin is
// allowed; Forbidden when only the origin fails; BadRequest otherwise.
THandshakeVerdict CheckHandshake(const THandshakeRequest& request, const TOriginPolicy& origins);

// Base64 (28 characters with "=" padding) of the SHA-1 digest of the key followed by
// "258EAFA5-E914-47DA-95CA-C5AB0DC85B11".
std::string GenerateSecWebSocketAccept(std::string_view SecWebSocketKey);

// The 101 answer, header lines ending in CR LF and an empty line at the end.
std::string HandshakeResponse(std::string_view acceptValue);

// The answer to a refused request: "HTTP/1.1 400 Bad Request" or "HTTP/1.1 403 Forbidden", with
// an empty body and "Connection: close".
std::string RefusalResponse(THandshakeVerdict verdict);

// Reads the opening request from the connection, checks it and writes the answer in one piece.
// On a refusal the answer is written and EOriginRefused or EHandshakeRefused is thrown, ending the
// connection; on success the caller moves the connection to the connected state.
void WebSocketHandshake(ByteStream& AContext, const TOriginPolicy& origins);

}  // namespace kelvora::service
