// Fragments, control frames and the closing handshake, checked as RFC 6455 sections 5 and 7 ask
// of a server that negotiates no extension.
#include "service/WebSocketMessages.h"

#include <algorithm>
#include <utility>

namespace kelvora::service {
namespace {

bool IsControl(uint8_t opcode) {
  return (opcode & 0x8) != 0;
}

// A status code an endpoint may send (RFC 6455 section 7.4): the defined ones that are not
// reserved for reports without a frame (1005, 1006, 1015), and the ranges for libraries and
// applications.
bool IsSendableCode(uint16_t code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) ||
         (code >= 3000 && code <= 4999);
}

std::string CloseFrame(uint16_t code) {
  const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  return EncodeFrame(Opcode::Close, std::string_view(payload, 2));
}

}  // namespace

void ClientMessageReader::Close(ByteStream& stream, CloseCode code, const std::string& reason) {
  stream.WriteAll(CloseFrame(static_cast<uint16_t>(code)));
  throw EWebSocketClosed(static_cast<uint16_t>(code), reason);
}

// The closing handshake started by the client: its status code goes back as it came, so the
// client sees its own close confirmed.
void ClientMessageReader::AnswerClose(ByteStream& stream, const std::string& payload) {
  if (payload.empty()) Close(stream, CloseCode::Normal, "WebSocket closed by the client");
  if (payload.size() < 2) Close(stream, CloseCode::ProtocolError, "Invalid WebSocket close frame");
  const auto code = static_cast<uint16_t>((static_cast<uint8_t>(payload[0]) << 8) |
                                          static_cast<uint8_t>(payload[1]));
  if (!IsSendableCode(code)) Close(stream, CloseCode::ProtocolError, "Invalid WebSocket close code");
  if (!IsValidUtf8(std::string_view(payload).substr(2))) {
    Close(stream, CloseCode::InvalidPayload, "WebSocket close reason is not UTF-8");
  }
  stream.WriteAll(CloseFrame(code));
  throw EWebSocketClosed(code, "WebSocket closed by the client");
}

// Control frames may come between the fragments of a message, which they leave as it is.
std::string ClientMessageReader::Control(ByteStream& stream, const ClientFrame& frame) {
  switch (static_cast<Opcode>(frame.Header.Opcode)) {
    case Opcode::Close:
      AnswerClose(stream, frame.Payload);
    case Opcode::Ping:
      stream.WriteAll(EncodeFrame(Opcode::Pong, frame.Payload));
      return {};
    case Opcode::Pong:
      return {};
    default:
      Close(stream, CloseCode::ProtocolError, "Reserved WebSocket opcode");
  }
}

std::string ClientMessageReader::ReadFrame(ByteStream& stream) {
  ClientFrame frame;
  try {
    // A control frame of up to 125 bytes is read even when less of the message's limit is left,
    // so that it is judged as a control frame.
    const uint64_t left = maxMessage_ - message_.size();
    frame = ReadClientFrame(stream, std::max(left, kMaxControlPayload));
  } catch (const EUnmaskedFrame& e) {
    Close(stream, CloseCode::ProtocolError, e.what());
  } catch (const EFrameTooLarge& e) {
    Close(stream, CloseCode::MessageTooBig, e.what());
  }
  const FrameHeader& header = frame.Header;
  if (header.Rsv != 0) Close(stream, CloseCode::ProtocolError, "WebSocket RSV bits set");
  if (IsControl(header.Opcode)) {
    if (!header.Fin || header.PayloadLength > kMaxControlPayload) {
      Close(stream, CloseCode::ProtocolError, "Fragmented or oversized WebSocket control frame");
    }
    return Control(stream, frame);
  }
  const bool first = static_cast<Opcode>(header.Opcode) == Opcode::Text;
  switch (static_cast<Opcode>(header.Opcode)) {
    case Opcode::Text:
      if (inMessage_) Close(stream, CloseCode::ProtocolError, "WebSocket message interrupted");
      break;
    case Opcode::Continuation:
      if (!inMessage_) Close(stream, CloseCode::ProtocolError, "WebSocket continuation alone");
      break;
    case Opcode::Binary:
      Close(stream, CloseCode::UnsupportedData, "Binary WebSocket message");
    default:
      Close(stream, CloseCode::ProtocolError, "Reserved WebSocket opcode");
  }
  if (frame.Payload.size() > maxMessage_ - message_.size()) {
    Close(stream, CloseCode::MessageTooBig, "WebSocket message exceeds the limit");
  }
  // A message in one frame, as pages send theirs, is taken as it is, without a copy.
  std::string text;
  if (first && header.Fin) {
    text = std::move(frame.Payload);
  } else {
    message_ += frame.Payload;
    inMessage_ = !header.Fin;
    if (inMessage_) return {};
    text = std::exchange(message_, {});
  }
  if (!IsValidUtf8(text)) Close(stream, CloseCode::InvalidPayload, "WebSocket text is not UTF-8");
  return text;
}

}  // namespace kelvora::service
