// The executable's location on Linux, read from /proc.
#include "platform/Paths.h"

namespace kelvora::platform {

std::filesystem::path ExecutablePath() {
  return std::filesystem::read_symlink("/proc/self/exe");
}

std::filesystem::path ExecutableDirectory() {
  return ExecutablePath().parent_path();
}

std::filesystem::path ConfigFilePath(const std::filesystem::path& baseDir,
                                     const std::filesystem::path& executable) {
  return baseDir / executable.filename().replace_extension(".ini");
}

}  // namespace kelvora::platform
