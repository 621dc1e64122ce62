// Text made safe for one log line: control characters written as visible escapes.
#pragma once

#include <string>
#include <string_view>

namespace kelvora::platform {

// The text with every control character (bytes 0x00 to 0x1F and DEL, 0x7F) escaped, so that text
// from outside (the network, the sales API, the SiTef library) can neither end a log line nor
// forge the next one: CR as \r, LF as \n, TAB as \t, every other one as \xHH (two upper-case
// hexadecimal digits). Every other byte, UTF-8 sequences and the backslash included, is kept.
std::string EscapeLogText(std::string_view text);

}  // namespace kelvora::platform
