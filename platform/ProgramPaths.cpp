// What follows from the executable's path on both systems: its folder and its configuration file.
#include "platform/Paths.h"

namespace kelvora::platform {

std::filesystem::path ExecutableDirectory() {
  return ExecutablePath().parent_path();
}

std::filesystem::path ConfigFilePath(const std::filesystem::path& baseDir,
                                     const std::filesystem::path& executable) {
  return baseDir / executable.filename().replace_extension(".ini");
}

}  // namespace kelvora::platform
