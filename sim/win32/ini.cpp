// ini_parse over GetPrivateProfileSectionNamesW and GetPrivateProfileSectionW: the system reads
// the file, this only walks what it returns.
#include "ini.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string Narrow(std::wstring_view wide) {
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && text.front() <= L' ') text.remove_prefix(1);
  while (!text.empty() && text.back() <= L' ') text.remove_suffix(1);
  return text;
}

// The NUL-separated list the profile functions return, grown until it fits.
template <typename Read>
std::vector<std::wstring> ReadList(Read read) {
  std::wstring buffer(4096, L'\0');
  for (;;) {
    const DWORD length = read(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length + 2 < buffer.size() || buffer.size() >= (1u << 20)) {
      buffer.resize(length);
      break;
    }
    buffer.resize(buffer.size() * 4);
  }
  std::vector<std::wstring> items;
  for (size_t start = 0; start < buffer.size();) {
    const size_t end = buffer.find(L'\0', start);
    const size_t stop = end == std::wstring::npos ? buffer.size() : end;
    if (stop > start) items.emplace_back(buffer, start, stop - start);
    start = stop + 1;
  }
  return items;
}

}  // namespace

int ini_parse(const wchar_t* filename, ini_handler handler, void* user) {
  const std::wstring file = std::filesystem::absolute(filename).wstring();
  if (::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return -1;
  const auto sections = ReadList([&](wchar_t* buffer, DWORD size) {
    return ::GetPrivateProfileSectionNamesW(buffer, size, file.c_str());
  });
  for (const std::wstring& section : sections) {
    const std::string sectionName = Narrow(section);
    const auto lines = ReadList([&](wchar_t* buffer, DWORD size) {
      return ::GetPrivateProfileSectionW(section.c_str(), buffer, size, file.c_str());
    });
    for (const std::wstring& line : lines) {
      const size_t equals = line.find(L'=');
      if (equals == std::wstring::npos) continue;
      const std::string name = Narrow(Trim(std::wstring_view(line).substr(0, equals)));
      const std::string value = Narrow(Trim(std::wstring_view(line).substr(equals + 1)));
      handler(user, sectionName.c_str(), name.c_str(), value.c_str());
    }
  }
  return 0;
}
