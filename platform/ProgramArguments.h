// The program's command-line arguments as UTF-8 text.
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

// argv[0] to argv[argc - 1] in UTF-8. Linux passes the bytes as they are; Windows hands main()
// its arguments in the ANSI code page, so they are read again from the wide command line, where
// a folder name such as "Balcão" arrives whole.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace kelvora::platform
