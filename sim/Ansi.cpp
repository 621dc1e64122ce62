// Conversion of the simulator's own UTF-8 texts into Windows-1252.
#include "Ansi.h"

#include <array>
#include <cstdint>

namespace kelvora::sim {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; this table gives the Unicode code point
// of each of those bytes (0 where the code page leaves the byte undefined).
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char encode(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp && cp != 0) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Decodes one UTF-8 sequence starting at `pos`, advancing it; returns U+FFFD for a malformed one.
char32_t decode(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<std::uint8_t>(s[pos++]);
  if (lead < 0x80) return lead;
  int extra = 0;
  char32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07;
  } else {
    return 0xFFFD;
  }
  for (int i = 0; i < extra; ++i) {
    if (pos >= s.size() || (static_cast<std::uint8_t>(s[pos]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<std::uint8_t>(s[pos++]) & 0x3F);
  }
  return cp;
}

}  // namespace

std::string toAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) out += encode(decode(utf8, pos));
  return out;
}

std::string fromAnsi(unsigned char byte) {
  const char32_t cp = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
  if (cp == 0) return {};
  if (cp < 0x80) return std::string(1, static_cast<char>(cp));
  if (cp < 0x800) {
    return {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
  }
  return {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
          static_cast<char>(0x80 | (cp & 0x3F))};
}

}  // namespace kelvora::sim
