// The library's own folder on Windows: the module that holds this code, and its file name.
#include "LibraryDirectory.h"

#include <windows.h>

#include <string>

namespace kelvora::sim {
namespace {

// Any address inside the library names the library's module.
const char kAnchor = 0;

}  // namespace

std::filesystem::path libraryDirectory() {
  std::error_code error;
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&kAnchor), &module)) {
    return std::filesystem::current_path(error);
  }
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return std::filesystem::current_path(error);
    if (length < name.size()) {
      name.resize(length);
      return std::filesystem::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
}

}  // namespace kelvora::sim
