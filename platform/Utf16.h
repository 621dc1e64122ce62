// UTF-16 to UTF-8 conversion, for text files that arrive with a UTF-16 byte-order mark.
#pragma once

#include <string>
#include <string_view>

namespace kelvora::platform {

// Converts UTF-16 code units (the bytes after the byte-order mark) to UTF-8. A lone surrogate
// becomes U+FFFD; an odd trailing byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian);

}  // namespace kelvora::platform
