// File versions from the VERSIONINFO resource, through GetFileVersionInfoW: the service's own,
// the simulator's and the vendor's DLL are all read the same way.
#include "platform/FileVersion.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/win32/WideText.h"

namespace kelvora::platform {

std::optional<std::string> ReadFileVersion(const std::string& path) {
  const std::wstring name = win32::Widen(path);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(name.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(name.c_str(), 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)),
                static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return std::string(text);
}

}  // namespace kelvora::platform
