// The Windows loader behind DynamicLibrary: LoadLibraryExW, GetProcAddress, FreeLibrary.
#include "platform/DynamicLibrary.h"

#include <windows.h>

#include <filesystem>
#include <optional>
#include <utility>

#include "platform/LibraryArchitecture.h"
#include "platform/win32/WideText.h"

namespace kelvora::platform {

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() {
  Close();
}

DynamicLibrary DynamicLibrary::Open(const std::string& file, bool StayMapped, std::string& Error) {
  const std::wstring name = win32::Widen(file);
  // A library given by its path finds the DLLs it depends on in its own folder first; a bare name
  // goes through the standard search order.
  const bool hasFolder = file.find_first_of("\\/") != std::string::npos;
  const DWORD flags =
      hasFolder ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS : 0;
  const std::wstring path =
      hasFolder ? std::filesystem::absolute(std::filesystem::path(name)).make_preferred().wstring()
                : name;
  if (hasFolder) {
    if (std::optional<std::string> mismatch = LibraryArchitectureMismatch(file)) {
      Error = file + ": " + *mismatch;
      return DynamicLibrary();
    }
  }
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, flags);
  if (module == nullptr && hasFolder && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // A Windows 7 without the search-path update knows no LOAD_LIBRARY_SEARCH_* flag: the older
    // flag also searches the DLL's own folder for its dependencies.
    module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (module == nullptr) {
    Error = file + ": " + win32::ErrorText(::GetLastError());
    return DynamicLibrary();
  }
  if (StayMapped) {
    // Pins the module: it stays mapped until the process ends, whatever FreeLibrary is called.
    HMODULE pinned = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(module), &pinned);
  }
  return DynamicLibrary(module, {});
}

void* DynamicLibrary::Symbol(const std::string& name, std::string& Error) const {
  if (handle_ == nullptr) {
    Error = "library not loaded";
    return nullptr;
  }
  FARPROC address = ::GetProcAddress(static_cast<HMODULE>(handle_), name.c_str());
  if (address == nullptr) {
    Error = name + ": " + win32::ErrorText(::GetLastError());
    return nullptr;
  }
  return reinterpret_cast<void*>(address);
}

void DynamicLibrary::Close() noexcept {
  if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)));
}

}  // namespace kelvora::platform
