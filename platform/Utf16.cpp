// Hand-written UTF-16 decoder: surrogate pairs joined, everything else one code point per unit.
#include "platform/Utf16.h"

#include <cstdint>

namespace kelvora::platform {
namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  const size_t count = bytes.size() / 2;
  auto unit = [&](size_t i) {
    const auto a = static_cast<uint8_t>(bytes[2 * i]);
    const auto b = static_cast<uint8_t>(bytes[2 * i + 1]);
    return static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  };
  std::string out;
  out.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const char16_t u = unit(i);
    if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(unit(i + 1))) {
      AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace kelvora::platform
