// The executable's location on Linux, read from /proc.
#include "platform/Paths.h"

namespace kelvora::platform {

std::filesystem::path ExecutablePath() {
  return std::filesystem::read_symlink("/proc/self/exe");
}

}  // namespace kelvora::platform
