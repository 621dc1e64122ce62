// The byte stream under the WebSocket handshake and frame codec: a TLS connection in the service,
// a buffer in the tests.
#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora::service {

// The peer closed the connection, or the connection failed, during a read or a write. It ends the
// connection that raised it.
class EConnectionClosed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Reads at least one and at most buffer.size() bytes, blocking until some arrive. Throws
  // EConnectionClosed when the stream has ended or failed; never returns 0 for a non-empty buffer.
  virtual size_t ReadSome(std::span<char> buffer) = 0;

  // Writes every byte, or throws EConnectionClosed.
  virtual void WriteAll(std::string_view bytes) = 0;
};

// Fills the whole buffer from the stream, or throws EConnectionClosed.
inline void ReadExact(ByteStream& stream, std::span<char> buffer) {
  while (!buffer.empty()) buffer = buffer.subspan(stream.ReadSome(buffer));
}

}  // namespace kelvora::service
