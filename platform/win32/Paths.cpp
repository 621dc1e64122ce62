// The executable's location on Windows, from GetModuleFileNameW.
#include "platform/Paths.h"

#include <windows.h>

#include <system_error>

namespace kelvora::platform {

std::filesystem::path ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                              "GetModuleFileNameW");
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kelvora::platform
