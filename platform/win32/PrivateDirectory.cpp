// Private directories on Windows: created with the service's private access from the start.
#include "platform/PrivateDirectory.h"

#include <windows.h>

#include "platform/win32/PrivateSecurity.h"

namespace kelvora::platform {
namespace {

// True when this call made the directory; false with the reason otherwise.
bool Create(const std::filesystem::path& directory, std::error_code& error) {
  if (::CreateDirectoryW(directory.c_str(), win32::PrivateFolderSecurity())) return true;
  error.assign(static_cast<int>(::GetLastError()), std::system_category());
  return false;
}

}  // namespace

bool CreatePrivateDirectory(const std::filesystem::path& directory, std::error_code& error) {
  error.clear();
  if (Create(directory, error)) return true;
  // One that exists already is kept as it is, with its own access.
  return std::filesystem::is_directory(directory, error);
}

bool CreateOwnerOnlyDirectory(const std::filesystem::path& directory, std::error_code& error) {
  error.clear();
  return Create(directory, error);
}

}  // namespace kelvora::platform
