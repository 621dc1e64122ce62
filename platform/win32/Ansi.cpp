// Windows-1252 conversion through the system's code page tables.
#include "platform/Ansi.h"

#include <windows.h>

#include <string>

namespace kelvora::platform {
namespace {

constexpr UINT kWindows1252 = 1252;

bool IsHighSurrogate(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Every character outside the Basic Multilingual Plane (a surrogate pair), and every lone
// surrogate, becomes one '?': none of them is in the code page, and a pair is one character.
std::wstring OneUnitPerCharacter(const std::wstring& wide) {
  std::wstring units;
  units.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) ++i;
      units.push_back(L'?');
    } else {
      units.push_back(c);
    }
  }
  return units;
}

}  // namespace

AnsiString ToAnsi(std::string_view utf8) {
  if (utf8.empty()) return {};
  // Invalid UTF-8 bytes become U+FFFD here, and '?' below, as every unmappable character does.
  const int size = static_cast<int>(utf8.size());
  int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wideLength);
  wide = OneUnitPerCharacter(wide);
  wideLength = static_cast<int>(wide.size());
  // WC_NO_BEST_FIT_CHARS: a character outside the code page becomes '?' rather than a look-alike.
  const int length = ::WideCharToMultiByte(kWindows1252, WC_NO_BEST_FIT_CHARS, wide.data(),
                                           wideLength, nullptr, 0, "?", nullptr);
  AnsiString ansi(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(kWindows1252, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, ansi.data(),
                        length, "?", nullptr);
  return ansi;
}

std::string FromAnsi(AnsiStringView ansi) {
  if (ansi.empty()) return {};
  const int size = static_cast<int>(ansi.size());
  const int wideLength = ::MultiByteToWideChar(kWindows1252, 0, ansi.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(kWindows1252, 0, ansi.data(), size, wide.data(), wideLength);
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::optional<unsigned> SystemAnsiCodePage() {
  return ::GetACP();
}

}  // namespace kelvora::platform
