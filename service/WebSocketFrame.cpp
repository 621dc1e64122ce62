// Frame layout as RFC 6455 section 5.2 draws it; all multi-byte numbers are big-endian.
#include "service/WebSocketFrame.h"

#include <algorithm>

namespace kelvora::service {
namespace {

constexpr uint8_t kFinBit = 0x80;
constexpr uint8_t kRsvBits = 0x70;
constexpr uint8_t kOpcodeBits = 0x0F;
constexpr uint8_t kMaskBit = 0x80;
constexpr uint8_t kLengthBits = 0x7F;
constexpr uint8_t kLength16 = 126;
constexpr uint8_t kLength64 = 127;
constexpr size_t kReadChunk = 64 * 1024;

uint64_t ReadBigEndian(ByteStream& stream, size_t bytes) {
  std::array<char, 8> buffer{};
  ReadExact(stream, std::span<char>(buffer.data(), bytes));
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value = (value << 8) | static_cast<uint8_t>(buffer[i]);
  return value;
}

void AppendBigEndian(std::string& out, uint64_t value, size_t bytes) {
  for (size_t i = bytes; i-- > 0;) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Reads length bytes in chunks, so memory grows with what actually arrives, not with the claim.
std::string ReadPayload(ByteStream& stream, uint64_t length) {
  std::string payload;
  while (payload.size() < length) {
    const size_t chunk =
        static_cast<size_t>(std::min<uint64_t>(length - payload.size(), kReadChunk));
    const size_t start = payload.size();
    payload.resize(start + chunk);
    ReadExact(stream, std::span<char>(payload.data() + start, chunk));
  }
  return payload;
}

}  // namespace

namespace detail {

FrameHeader ReadFrameHeader(ByteStream& stream) {
  std::array<char, 2> first{};
  ReadExact(stream, first);
  const auto byte0 = static_cast<uint8_t>(first[0]);
  const auto byte1 = static_cast<uint8_t>(first[1]);
  FrameHeader header;
  header.Fin = (byte0 & kFinBit) != 0;
  header.Rsv = static_cast<uint8_t>((byte0 & kRsvBits) >> 4);
  header.Opcode = byte0 & kOpcodeBits;
  header.Masked = (byte1 & kMaskBit) != 0;
  header.PayloadLength = byte1 & kLengthBits;
  if (header.PayloadLength == kLength16) {
    header.PayloadLength = ReadBigEndian(stream, 2);
  } else if (header.PayloadLength == kLength64) {
    header.PayloadLength = ReadBigEndian(stream, 8);
  }
  if (header.Masked) {
    std::array<char, 4> key{};
    ReadExact(stream, key);
    for (size_t i = 0; i < key.size(); ++i) header.MaskingKey[i] = static_cast<uint8_t>(key[i]);
  }
  return header;
}

void ApplyMask(std::span<char> payload, const std::array<uint8_t, 4>& key) {
  for (size_t j = 0; j < payload.size(); ++j) {
    payload[j] = static_cast<char>(static_cast<uint8_t>(payload[j]) ^ key[j % 4]);
  }
}

}  // namespace detail

ClientFrame ReadClientFrame(ByteStream& stream, uint64_t maxPayload) {
  ClientFrame frame{detail::ReadFrameHeader(stream), {}};
  const FrameHeader& header = frame.Header;
  if (!header.Masked) throw EUnmaskedFrame("Unmasked WebSocket frame from the client");
  if (header.PayloadLength > maxPayload) {
    throw EFrameTooLarge("WebSocket frame of " + std::to_string(header.PayloadLength) +
                         " bytes exceeds the limit of " + std::to_string(maxPayload) + " bytes");
  }
  frame.Payload = ReadPayload(stream, header.PayloadLength);
  detail::ApplyMask(frame.Payload, header.MaskingKey);
  return frame;
}

std::string EncodeFrame(Opcode opcode, std::string_view payload) {
  const uint64_t length = payload.size();
  std::string frame;
  frame.reserve(payload.size() + 10);
  frame += static_cast<char>(kFinBit | static_cast<uint8_t>(opcode));
  if (length <= 125) {
    frame += static_cast<char>(length);
  } else if (length <= 0xFFFF) {
    frame += static_cast<char>(kLength16);
    AppendBigEndian(frame, length, 2);
  } else {
    frame += static_cast<char>(kLength64);
    AppendBigEndian(frame, length, 8);
  }
  frame += payload;
  return frame;
}

std::string EncodeTextFrame(std::string_view utf8) {
  return EncodeFrame(Opcode::Text, utf8);
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t min = 0;
    uint32_t code = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, code = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace kelvora::service
