// 8-bit text in the Windows-1252 code page, kept apart from the service's UTF-8 text by its type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvora::platform {

// Same behaviour as char's traits; a distinct type so that AnsiString and std::string never mix
// without a visible conversion.
struct AnsiCharTraits : std::char_traits<char> {};

// Text as the SiTef library, the TEF field files and the logs hold it: one byte per character,
// Windows-1252.
using AnsiString = std::basic_string<char, AnsiCharTraits>;
using AnsiStringView = std::basic_string_view<char, AnsiCharTraits>;

// Converts UTF-8 text to Windows-1252. A character the code page cannot represent becomes '?',
// as the Windows conversion does; invalid UTF-8 bytes become '?' too.
AnsiString ToAnsi(std::string_view utf8);

// Converts Windows-1252 text to UTF-8. The five bytes the code page leaves undefined map to the
// control characters of the same value, so every byte string converts.
std::string FromAnsi(AnsiStringView ansi);

// Reinterprets bytes without conversion: for text known to be ASCII, or bytes read from a file.
// The system's ANSI code page, in which the vendor's library writes its texts on Windows; nullopt
// on Linux, where the library's texts are Windows-1252 by its own contract.
std::optional<unsigned> SystemAnsiCodePage();

inline AnsiString AnsiBytes(std::string_view bytes) { return AnsiString(bytes.data(), bytes.size()); }
inline std::string_view RawBytes(AnsiStringView ansi) { return {ansi.data(), ansi.size()}; }

}  // namespace kelvora::platform
