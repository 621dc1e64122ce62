// The command-line arguments on Windows, from the wide command line.
#include "platform/ProgramArguments.h"

#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include "platform/win32/WideText.h"

namespace kelvora::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  // Should the wide line be unavailable or disagree with main's, main's own arguments still work
  // for every ASCII text.
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) ::LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace kelvora::platform
