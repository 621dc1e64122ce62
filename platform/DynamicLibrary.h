// Run-time loading of a shared library and lookup of its exports (dlopen, dlsym, dlclose on
// Linux; LoadLibraryExW, GetProcAddress, FreeLibrary on Windows).
#pragma once

#include <string>

// The calling convention of a library's exported C functions: the standard API convention on
// 32-bit Windows, the only one there is on Linux. Written between the result type and the name.
#ifdef _WIN32
#define KELVORA_LIBRARY_CALL __stdcall
#else
#define KELVORA_LIBRARY_CALL
#endif

namespace kelvora::platform {

// Owns one reference to a loaded shared library; the reference is given back when the handle goes
// away. Move-only.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  ~DynamicLibrary();

  // Loads a library with every symbol bound at once and none made visible to later loads
  // (RTLD_NOW | RTLD_LOCAL). A name without "/" goes through the system's library search. With
  // StayMapped the library is never unmapped, even after its last handle is closed, so that code
  // and state of a library that may still run threads of its own outlive the handle. On failure
  // the handle stays empty and Error holds the loader's text.
  static DynamicLibrary Open(const std::string& file, bool StayMapped, std::string& Error);

  bool Loaded() const { return handle_ != nullptr; }
  explicit operator bool() const { return Loaded(); }

  // The address of an export; nullptr when the library has none of that name (or the handle is
  // empty), with Error holding the loader's text.
  void* Symbol(const std::string& name, std::string& Error) const;

  // Gives the reference back now (nothing for an empty handle).
  void Close() noexcept;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace kelvora::platform
