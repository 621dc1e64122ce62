// The WebSocket protocol above single frames (RFC 6455 sections 5.4 to 5.6, 7 and 8): text
// messages put together from their fragments, ping answered, and the closing handshake.
#pragma once

#include "service/ByteStream.h"
#include "service/WebSocketFrame.h"

#include <cstdint>
#include <string>

namespace kelvora::service {

// Status codes of a close frame (RFC 6455 section 7.4.1).
enum class CloseCode : uint16_t {
  Normal = 1000,
  ProtocolError = 1002,
  UnsupportedData = 1003,
  InvalidPayload = 1007,
  MessageTooBig = 1009,
};

// The largest payload of a control frame (close, ping, pong).
inline constexpr uint64_t kMaxControlPayload = 125;

// The WebSocket is closed: the client's close frame has been answered, or the service has sent a
// close frame because of a frame it does not take. Nothing more is read; the connection ends as
// when the client drops it.
class EWebSocketClosed : public EConnectionClosed {
 public:
  EWebSocketClosed(uint16_t code, const std::string& reason)
      : EConnectionClosed(reason), Code(code) {}
  uint16_t Code;  // the status code of the close frame the service sent
};

// Reads a client's frames one at a time and keeps the text message being put together between
// them. One reader per connection, used by one thread at a time (under the connection's frame
// lock, since it also writes the pong and close frames).
class ClientMessageReader {
 public:
  // maxMessage bounds a whole message, all its fragments together.
  explicit ClientMessageReader(uint64_t maxMessage = kMaxClientPayload) : maxMessage_(maxMessage) {}

  // Reads exactly one frame and acts on it. Returns the text of the message that frame completes:
  // a text message in one frame, or the last fragment of one. Returns empty for everything else: a
  // fragment before the last, a ping (answered with a pong carrying its payload), a pong, and a
  // message with an empty text. Reading one frame and no more keeps a caller that only peeked for
  // input from waiting for a message's later fragments.
  // A close frame is answered with a close frame echoing its status code (1000 when it has none).
  // A frame the service does not take is answered with a close frame: binary data 1003; RSV bits,
  // a reserved opcode, a fragmented or oversized control frame, a continuation without a first
  // fragment, a new message before the last one ended, or an unmasked frame 1002; text that is
  // not UTF-8 1007; a message over maxMessage bytes 1009. Either way it then throws
  // EWebSocketClosed. Throws EConnectionClosed when the stream ends or fails.
  std::string ReadFrame(ByteStream& stream);

 private:
  [[noreturn]] void Close(ByteStream& stream, CloseCode code, const std::string& reason);
  [[noreturn]] void AnswerClose(ByteStream& stream, const std::string& payload);
  std::string Control(ByteStream& stream, const ClientFrame& frame);

  uint64_t maxMessage_;
  bool inMessage_ = false;  // a text message's first fragment has come, its last one not yet
  std::string message_;     // its fragments so far
};

}  // namespace kelvora::service
