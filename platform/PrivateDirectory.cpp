// Private directories on Linux: created, then given their mode, so the umask cannot widen it.
#include "platform/PrivateDirectory.h"

namespace kelvora::platform {
namespace {

bool CreateWithMode(const std::filesystem::path& directory, std::filesystem::perms mode,
                    std::error_code& error) {
  if (!std::filesystem::create_directory(directory, error)) return false;
  std::filesystem::permissions(directory, mode, std::filesystem::perm_options::replace, error);
  return !error;
}

}  // namespace

bool CreatePrivateDirectory(const std::filesystem::path& directory, std::error_code& error) {
  error.clear();
  if (!CreateWithMode(directory, kPrivateDirectoryMode, error) && error) return false;
  return std::filesystem::is_directory(directory, error);
}

bool CreateOwnerOnlyDirectory(const std::filesystem::path& directory, std::error_code& error) {
  error.clear();
  if (CreateWithMode(directory, std::filesystem::perms::owner_all, error)) return true;
  if (!error) error = std::make_error_code(std::errc::file_exists);
  return false;
}

void SetPrivateFilesService(std::string_view) {}

}  // namespace kelvora::platform
