// Every missing level of a private directory, made one at a time below the root.
#include "platform/PrivateDirectory.h"

namespace kelvora::platform {

bool CreatePrivateDirectories(const std::filesystem::path& directory, std::error_code& error) {
  error.clear();
  if (directory.empty()) return false;
  // The root (a drive such as "C:" on Windows) is never made, only what lies below it.
  const std::filesystem::path normal = directory.lexically_normal();
  std::filesystem::path level = normal.root_path();
  for (const std::filesystem::path& part : normal.relative_path()) {
    level /= part;
    if (part.empty() || std::filesystem::is_directory(level, error)) continue;
    if (!CreatePrivateDirectory(level, error)) return false;
  }
  return std::filesystem::is_directory(directory, error);
}

}  // namespace kelvora::platform
