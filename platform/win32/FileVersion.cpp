// File versions from the VERSIONINFO resource, through GetFileVersionInfoW: the service's own,
// the simulator's and the vendor's DLL are all read the same way.
#include "platform/FileVersion.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

// The FileVersion text of the resource's first language, empty when it has none.
std::wstring VersionString(const std::vector<unsigned char>& data) {
  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    return {};
  }
  wchar_t key[64];
  std::swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", translations[0].language,
                translations[0].codePage);
  wchar_t* text = nullptr;
  if (!::VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&text), &length) ||
      text == nullptr) {
    return {};
  }
  return std::wstring(text);
}

}  // namespace

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
  // A version text that adds a suffix to the same numbers (the simulator's "6.2.0.1-sim") is
  // kept whole, as the Linux note carries it; any other text gives way to the numbers.
  const std::string numbers(text);
  const std::string full = win32::Narrow(VersionString(data));
  if (full.size() > numbers.size() + 1 && full.starts_with(numbers + "-")) return full;
  return numbers;
}

}  // namespace kelvora::platform
