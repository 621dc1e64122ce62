// File-system services behind the TEF field files and backups: wildcard search, whole-file reads
// and crash-safe replacement, appends, deletion and flushing to stable storage.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvora::platform {

// The entries matching a mask whose only wildcards are '*' and '?', as on Windows (every other
// character, '[' and '\' included, stands for itself). Files and directories alike, "." and ".."
// left out, hidden names included; sorted by byte value so that every run sees the same order.
// Each name carries the mask's directory part as written in the mask.
std::vector<std::string> FindFiles(const std::string& mask);

// The whole content of a file. Throws std::system_error "Cannot open file <path>" or
// "Cannot read file <path>" (a directory, an I/O error).
std::string ReadFileBytes(const std::string& path);

// Files created by the two writers below get mode 0640 (owner read-write, group read) whatever
// the umask: they hold sale data.

// Replaces the content of a file with the given bytes. The bytes go to a temporary file beside it
// that is then renamed over the old one, so a crash or a full disk leaves either the old or the
// new content, never a truncated mix. With durable, the data and the rename reach stable storage
// before the call returns. Throws std::system_error "Cannot create file <path>" or
// "Cannot write file <path>"; the old file is then untouched.
void ReplaceFileBytes(const std::string& path, std::string_view bytes, bool durable);

// Appends bytes to a file, creating it when missing; other appenders that use this routine wait
// while it writes (an exclusive advisory lock). Throws std::system_error "Cannot open file <path>"
// or "Cannot write file <path>".
void AppendFileBytes(const std::string& path, std::string_view bytes);

// Deletes a file and flushes the directory so the deletion survives a crash. Returns false when
// the name still exists afterwards (a directory, no permission); a name that did not exist is
// reported as deleted.
bool DeleteFileAndSync(const std::string& path);

// Pushes the file's data and its directory entry to stable storage (fsync of both). Every failure
// is ignored: callers use it as a best effort after a successful write.
void FlushToStableStorage(const std::string& path) noexcept;

}  // namespace kelvora::platform
