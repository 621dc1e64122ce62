// Where the running program lives: the executable's own path, from which the base directory and
// the configuration file name are derived.
#pragma once

#include <filesystem>

namespace kelvora::platform {

// The absolute path of the running executable (/proc/self/exe). Throws std::system_error when the
// link cannot be read.
std::filesystem::path ExecutablePath();

// The directory holding the running executable.
std::filesystem::path ExecutableDirectory();

// The configuration file of a program: the executable's file name with its extension replaced
// by ".ini", inside baseDir (SvcKelvoraSiTef gives baseDir/SvcKelvoraSiTef.ini).
std::filesystem::path ConfigFilePath(const std::filesystem::path& baseDir,
                                     const std::filesystem::path& executable = ExecutablePath());

}  // namespace kelvora::platform
