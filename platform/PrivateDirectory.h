// Directories and files the service keeps to itself: logs, backups and reports may hold sale data,
// so they are readable by the owner and its group only, whatever the process's umask. On Windows
// the same directories get an access list of their own instead of the modes: the local system
// account, the administrators and the running user, nothing inherited from the folder above.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace kelvora::platform {

// rwxr-x--- for the directories the service makes, rw-r----- for its files.
inline constexpr std::filesystem::perms kPrivateDirectoryMode = std::filesystem::perms::owner_all |
                                                                std::filesystem::perms::group_read |
                                                                std::filesystem::perms::group_exec;
inline constexpr std::filesystem::perms kPrivateFileMode = std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_write |
                                                           std::filesystem::perms::group_read;

// Creates the directory and every missing level above it, each one it makes with
// kPrivateDirectoryMode; directories that exist already keep their mode. True when the directory
// exists afterwards; otherwise false with the reason in `error`.
bool CreatePrivateDirectories(const std::filesystem::path& directory, std::error_code& error);

// The same for one level: the parent must exist.
bool CreatePrivateDirectory(const std::filesystem::path& directory, std::error_code& error);

// A new directory for the running user alone (rwx------; on Windows the private access list),
// where secrets are assembled. False when it cannot be made or already exists, with the reason.
bool CreateOwnerOnlyDirectory(const std::filesystem::path& directory, std::error_code& error);

// Names the service whose own account gets the private files and folders besides the system and
// the administrators (on Windows its service SID, "NT SERVICE\<name>"); call it before the first
// private file is made. On Linux the files belong to the user the service runs as: nothing to do.
void SetPrivateFilesService(std::string_view serviceName);

}  // namespace kelvora::platform
