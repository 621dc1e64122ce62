// What follows from the executable's path on both systems: its folder, its configuration file and
// the certificate authorities shipped beside it.
#include "platform/Paths.h"

#include <system_error>

namespace kelvora::platform {

std::filesystem::path ExecutableDirectory() {
  return ExecutablePath().parent_path();
}

std::filesystem::path ConfigFilePath(const std::filesystem::path& baseDir,
                                     const std::filesystem::path& executable) {
  return baseDir / executable.filename().replace_extension(".ini");
}

std::filesystem::path BundledCaFile() {
  std::error_code error;
  std::filesystem::path file = ExecutableDirectory() / "ca-bundle.crt";
  return std::filesystem::is_regular_file(file, error) ? file : std::filesystem::path();
}

}  // namespace kelvora::platform
