// UTF-8 and UTF-16 conversions at the Windows API boundary, and the system's text for an error.
#pragma once

#include <string>
#include <string_view>

namespace kelvora::platform::win32 {

// UTF-8 to UTF-16 for the wide Windows functions; invalid bytes become U+FFFD.
std::wstring Widen(std::string_view utf8);

// UTF-16 from the Windows functions to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);

// The system's message for an error code (GetLastError, WSAGetLastError), without line ends.
std::string ErrorText(unsigned long code);

}  // namespace kelvora::platform::win32
