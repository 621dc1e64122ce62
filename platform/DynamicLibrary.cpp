// The POSIX loader behind DynamicLibrary, with the dependencies a library keeps in its own folder.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "platform/ElfDependencies.h"
#include "platform/LibraryArchitecture.h"

namespace kelvora::platform {
namespace {

// The loader's text for the last failure, or a fallback when it has none.
std::string LoaderError(const char* fallback) {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string(fallback);
}

// A path as one name per file, so that a folder reached twice, or a cycle of dependencies, is
// walked once.
std::string Identity(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return (error ? path : canonical).string();
}

// Loads, depth first, every object that `library` needs and that sits in `folder`, unless the
// process has it loaded already (the loader would take that one). The references taken go to
// `handles` in load order. False, with the loader's reason, when one cannot be loaded.
bool LoadFolderDependencies(const std::filesystem::path& library,
                            const std::filesystem::path& folder, int flags,
                            std::set<std::string>& seen, std::vector<void*>& handles,
                            std::string& Error) {
  for (const std::string& name : NeededLibraries(library.string())) {
    const std::filesystem::path candidate = folder / name;
    std::error_code error;
    if (!std::filesystem::is_regular_file(candidate, error)) continue;
    if (!seen.insert(Identity(candidate)).second) continue;
    if (void* loaded = ::dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      ::dlclose(loaded);
      continue;
    }
    if (!LoadFolderDependencies(candidate, folder, flags, seen, handles, Error)) return false;
    void* handle = ::dlopen(candidate.c_str(), flags);
    if (handle == nullptr) {
      Error = LoaderError("cannot load dependency");
      return false;
    }
    handles.push_back(handle);
  }
  return true;
}

void CloseAll(std::vector<void*>& handles) noexcept {
  for (auto it = handles.rbegin(); it != handles.rend(); ++it) ::dlclose(*it);
  handles.clear();
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      dependencies_(std::exchange(other.dependencies_, {})) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    dependencies_ = std::exchange(other.dependencies_, {});
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary DynamicLibrary::Open(const std::string& file, bool StayMapped, std::string& Error) {
  const int flags = RTLD_NOW | RTLD_LOCAL | (StayMapped ? RTLD_NODELETE : 0);
  std::vector<void*> dependencies;
  if (file.find('/') != std::string::npos) {
    if (std::optional<std::string> mismatch = LibraryArchitectureMismatch(file)) {
      Error = file + ": " + *mismatch;
      return DynamicLibrary();
    }
    const std::filesystem::path library(file);
    std::set<std::string> seen{Identity(library)};
    if (!LoadFolderDependencies(library, library.parent_path(), flags, seen, dependencies, Error)) {
      CloseAll(dependencies);
      return DynamicLibrary();
    }
  }
  void* handle = ::dlopen(file.c_str(), flags);
  if (handle == nullptr) {
    Error = LoaderError("cannot load library");
    CloseAll(dependencies);
    return DynamicLibrary();
  }
  return DynamicLibrary(handle, std::move(dependencies));
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
  CloseAll(dependencies_);
}

}  // namespace kelvora::platform
