// Client frames as bytes on the wire, built by hand for the codec's and the message reader's tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace kelvora::service::testing {

inline std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

// A client frame: byte 0, the length in the form the size calls for (or the form forced by
// lengthForm: 7, 16 or 64 bits), the masking key when given, and the payload masked with it.
inline std::string ClientFrame(uint8_t byte0, std::string payload,
                               std::string key = "\x12\x34\x56\x78", int lengthForm = 0) {
  const uint64_t n = payload.size();
  const int form = lengthForm != 0 ? lengthForm : n <= 125 ? 7 : n <= 0xFFFF ? 16 : 64;
  const char mask = key.empty() ? 0 : static_cast<char>(0x80);
  std::string frame(1, static_cast<char>(byte0));
  if (form == 7) {
    frame += static_cast<char>(mask | static_cast<char>(n));
  } else {
    frame += static_cast<char>(mask | (form == 16 ? 126 : 127));
    for (int i = form / 8 - 1; i >= 0; --i) frame += static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  frame += key;
  for (size_t j = 0; j < payload.size() && !key.empty(); ++j) payload[j] ^= key[j % 4];
  return frame + payload;
}

}  // namespace kelvora::service::testing
