// Run-time loading of a shared library and lookup of its exports (dlopen, dlsym, dlclose on
// Linux; LoadLibraryExW, GetProcAddress, FreeLibrary on Windows).
#pragma once

#include <string>
#include <utility>
#include <vector>

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
  // the handle stays empty and Error holds the loader's text. A library named by a path whose
  // header shows another architecture (a 32-bit library for a 64-bit service, or the reverse) is
  // refused before the loader sees it, with the reason in words.
  //
  // A library named by a path finds the shared objects it needs in its own folder, as a vendor
  // ships them, without LD_LIBRARY_PATH: the loader does not look there by itself, so every
  // object of the library's DT_NEEDED list (and of theirs, in turn) that sits in that folder and
  // is not loaded yet is loaded first, by its full path, and the loader then finds it loaded by
  // its name. A dependency that cannot be loaded fails the whole load with its own reason.
  static DynamicLibrary Open(const std::string& file, bool StayMapped, std::string& Error);

  bool Loaded() const { return handle_ != nullptr; }
  explicit operator bool() const { return Loaded(); }

  // The address of an export; nullptr when the library has none of that name (or the handle is
  // empty), with Error holding the loader's text.
  void* Symbol(const std::string& name, std::string& Error) const;

  // Gives the reference back now (nothing for an empty handle).
  void Close() noexcept;

 private:
  explicit DynamicLibrary(void* handle, std::vector<void*> dependencies)
      : handle_(handle), dependencies_(std::move(dependencies)) {}
  void* handle_ = nullptr;
  // The references taken on the dependencies loaded from the library's folder, given back after
  // the library's own.
  std::vector<void*> dependencies_;
};

}  // namespace kelvora::platform
