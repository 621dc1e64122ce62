// The library's own folder on Linux, through dladdr.
#include "LibraryDirectory.h"

#include <dlfcn.h>

namespace kelvora::sim {
namespace {

// Any address inside the library serves dladdr to find the library's own file.
const char kAnchor = 0;

}  // namespace

std::filesystem::path libraryDirectory() {
  Dl_info info{};
  std::error_code error;
  if (::dladdr(&kAnchor, &info) == 0 || info.dli_fname == nullptr) {
    return std::filesystem::current_path(error);
  }
  return std::filesystem::absolute(info.dli_fname, error).parent_path();
}

}  // namespace kelvora::sim
