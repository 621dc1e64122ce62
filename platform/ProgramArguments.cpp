// The command-line arguments on Linux: already bytes of the user's text.
#include "platform/ProgramArguments.h"

namespace kelvora::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace kelvora::platform
