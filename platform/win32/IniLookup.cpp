// The INI reader on Windows: the system's own profile functions, which compare section and key
// names without regard to case and take the first value of a key.
#include "platform/IniFile.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace kelvora::platform {

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
  // A default that no file holds tells a missing key from an empty value.
  static constexpr wchar_t kMissing[] = L"\x1Fkelvora-missing\x1F";
  const std::wstring file = std::filesystem::absolute(fileName_).wstring();
  const std::wstring sectionName = win32::Widen(section);
  const std::wstring keyName = win32::Widen(key);
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD length =
        ::GetPrivateProfileStringW(sectionName.c_str(), keyName.c_str(), kMissing, value.data(),
                                   static_cast<DWORD>(value.size()), file.c_str());
    if (length + 1 < value.size() || value.size() >= 65536) {
      value.resize(length);
      break;
    }
    value.resize(value.size() * 4);
  }
  if (value == kMissing) return std::nullopt;
  return win32::Narrow(value);
}

}  // namespace kelvora::platform
