// The WebSocket opening handshake as the service answers it: the client's key is read from the
// request, every other header is ignored, and the answer is always 101.
#pragma once

#include "service/ByteStream.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora::service {

// The longest request line accepted, in characters, line break excluded.
inline constexpr size_t kMaxHandshakeLine = 16384;

// A request line longer than kMaxHandshakeLine; it ends the connection.
class ELineTooLong : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads one line: the bytes up to LF, a CR just before the LF dropped, each byte above 127 taken
// as '?' (the line is read as ASCII). Throws ELineTooLong past kMaxHandshakeLine characters and
// EConnectionClosed when the stream ends first.
std::string ReadHandshakeLine(ByteStream& stream);

// Reads request lines up to the empty line that ends the request and returns the key: the text
// after a "Sec-WebSocket-Key:" prefix (exact case), blanks and control characters trimmed from both
// ends; the last such line wins, and a request without one gives an empty key.
std::string ReadSecWebSocketKey(ByteStream& stream);

// Base64 (28 characters with "=" padding) of the SHA-1 digest of the key followed by
// "258EAFA5-E914-47DA-95CA-C5AB0DC85B11".
std::string GenerateSecWebSocketAccept(std::string_view SecWebSocketKey);

// The 101 answer, header lines ending in CR LF and an empty line at the end.
std::string HandshakeResponse(std::string_view acceptValue);

// Reads the opening request from the connection and writes the answer in one piece. The caller
// then moves the connection to the connected state.
void WebSocketHandshake(ByteStream& AContext);

}  // namespace kelvora::service
