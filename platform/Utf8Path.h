// Paths from the UTF-8 text in which the service carries them between its parts.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvora::platform {

// A path from UTF-8 text. A path built straight from a std::string reads the bytes in the C
// library's code page on Windows, so a folder such as "Balcão" would come out garbled there;
// path::string() gives UTF-8 back on both systems.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace kelvora::platform
