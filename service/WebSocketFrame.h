// The WebSocket frame codec (RFC 6455): one client frame read with its header, one frame written.
#pragma once

#include "service/ByteStream.h"

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora::service {

enum class Opcode : uint8_t {
  Continuation = 0x0,
  Text = 0x1,
  Binary = 0x2,
  Close = 0x8,
  Ping = 0x9,
  Pong = 0xA,
};

// The largest client payload accepted: 1 MiB. The page's requests and answers are well under
// 1 KiB, so this only stops a peer without credentials from making the service wait for, or
// buffer, megabytes per connection (the 64-bit length form allows 2^63).
inline constexpr uint64_t kMaxClientPayload = 1024 * 1024;

// A client frame claimed more than the accepted payload; it ends the connection.
class EFrameTooLarge : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A client frame without a masking key. Browsers always mask, and masking is what keeps a page
// from steering the bytes a proxy on the way sees, so an unmasked frame ends the connection.
class EUnmaskedFrame : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FrameHeader {
  bool Fin = false;
  uint8_t Rsv = 0;     // RSV1 to RSV3, bits 6 to 4 of byte 0, as sent
  uint8_t Opcode = 0;  // bits 3 to 0 of byte 0, as sent (may be a value Opcode does not name)
  bool Masked = false;
  uint64_t PayloadLength = 0;
  std::array<uint8_t, 4> MaskingKey{};
};

// One client frame as read: its header and its payload, unmasked.
struct ClientFrame {
  FrameHeader Header;
  std::string Payload;
};

// Reads one whole client frame, whatever its opcode and flags (what they mean is the message
// reader's concern), so the stream stays at a frame boundary. Throws EConnectionClosed when the
// stream ends inside the frame; before reading any payload, EUnmaskedFrame when the frame has no
// masking key and EFrameTooLarge when the header claims more than maxPayload bytes.
ClientFrame ReadClientFrame(ByteStream& stream, uint64_t maxPayload = kMaxClientPayload);

// One unmasked, unfragmented frame (FIN set) of the given opcode carrying payload: the 7-bit
// length up to 125 bytes, the 16-bit form up to 65535, the 64-bit form beyond.
std::string EncodeFrame(Opcode opcode, std::string_view payload);

// A text frame carrying utf8; its length counts bytes.
std::string EncodeTextFrame(std::string_view utf8);

// True for well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

namespace detail {

// Reads bytes 0 and 1, the extended length and the masking key of a frame.
FrameHeader ReadFrameHeader(ByteStream& stream);

// XORs payload byte j with key byte j mod 4: masking and unmasking are the same operation.
void ApplyMask(std::span<char> payload, const std::array<uint8_t, 4>& key);

}  // namespace detail
}  // namespace kelvora::service
