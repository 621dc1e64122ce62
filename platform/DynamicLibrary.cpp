// The POSIX loader behind DynamicLibrary.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace kelvora::platform {
namespace {

// The loader's text for the last failure, or a fallback when it has none.
std::string LoaderError(const char* fallback) {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string(fallback);
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary DynamicLibrary::Open(const std::string& file, bool StayMapped, std::string& Error) {
  const int flags = RTLD_NOW | RTLD_LOCAL | (StayMapped ? RTLD_NODELETE : 0);
  void* handle = ::dlopen(file.c_str(), flags);
  if (handle == nullptr) {
    Error = LoaderError("cannot load library");
    return DynamicLibrary();
  }
  return DynamicLibrary(handle);
}

void* DynamicLibrary::Symbol(const std::string& name, std::string& Error) const {
  if (handle_ == nullptr) {
    Error = "library not loaded";
    return nullptr;
  }
  ::dlerror();  // clears an earlier failure so that the text below belongs to this lookup
  void* address = ::dlsym(handle_, name.c_str());
  if (address == nullptr) Error = LoaderError("symbol not found");
  return address;
}

void DynamicLibrary::Close() noexcept {
  if (handle_ != nullptr) ::dlclose(std::exchange(handle_, nullptr));
}

}  // namespace kelvora::platform
