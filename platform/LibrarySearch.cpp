// The library search on Linux: nothing to restrict (see LibrarySearch.h).
#include "platform/LibrarySearch.h"

namespace kelvora::platform {

void RestrictLibrarySearch(const std::filesystem::path&) {}

}  // namespace kelvora::platform
