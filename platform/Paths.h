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

// The certificate authorities shipped beside the executable (ca-bundle.crt: Debian's list when the
// Windows build was made), trusted by TLS clients besides the system's own store, which on Windows
// a service may find incomplete; empty when there is no such file.
std::filesystem::path BundledCaFile();

}  // namespace kelvora::platform
