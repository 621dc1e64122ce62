// The DLL search order of the service: the documented default directories plus the library's
// folder, through SetDefaultDllDirectories and AddDllDirectory where Windows has them.
#include "platform/LibrarySearch.h"

#include <windows.h>

#include <system_error>

namespace kelvora::platform {

void RestrictLibrarySearch(const std::filesystem::path& baseDir) {
  std::error_code ignored;
  std::filesystem::current_path(baseDir, ignored);
  // Looked up rather than linked: a Windows 7 without the search-path update has neither.
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  using AddDirectory = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
  const auto setDefault = reinterpret_cast<SetDefaultDirectories>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  const auto addDirectory = reinterpret_cast<AddDirectory>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "AddDllDirectory")));
  if (setDefault != nullptr && addDirectory != nullptr &&
      setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
    const std::wstring libraries = (baseDir / "dll").make_preferred().wstring();
    addDirectory(libraries.c_str());
    return;
  }
  // The standard order, less the working folder.
  ::SetDllDirectoryW(L"");
}

}  // namespace kelvora::platform
