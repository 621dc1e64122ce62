// POSIX implementation of the file-system services: glob for the search, fsync for durability.
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/UniqueFd.h"

namespace kelvora::platform {
namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what, const std::string& path) {
  throw std::system_error(error, std::generic_category(), what + " " + path);
}

// The directory that holds a path's last component ("." for a bare name).
std::string DirectoryOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// Translates a Windows-style mask into a glob pattern: only '*' and '?' stay wildcards.
std::string GlobPattern(const std::string& mask) {
  std::string pattern;
  pattern.reserve(mask.size() * 2);
  for (const char c : mask) {
    if (c == '[' || c == ']' || c == '\\') pattern.push_back('\\');
    pattern.push_back(c);
  }
  return pattern;
}

// Writes every byte, retrying after signals and short writes; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Files the service creates hold sale data: owner read-write, group read, nothing for others.
constexpr mode_t kFileMode = 0640;

// Opens a new file with kFileMode whatever the umask: the mode given to open() is narrowed by the
// umask, so it is set again on the descriptor before anything is written.
UniqueFd CreateWithMode(const std::string& path, int flags) {
  UniqueFd fd(::open(path.c_str(), flags | O_CREAT | O_CLOEXEC, kFileMode));
  if (fd && ::fchmod(fd.Get(), kFileMode) != 0) return UniqueFd();
  return fd;
}

// Opens a file for appending. A new file gets kFileMode; an existing one keeps its mode, so a log
// an administrator opened to others stays as it was set.
UniqueFd OpenForAppend(const std::string& path) {
  for (;;) {
    UniqueFd fd = CreateWithMode(path, O_WRONLY | O_APPEND | O_EXCL);
    if (fd || errno != EEXIST) return fd;
    fd = UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    // Deleted between the two opens: create it again.
    if (fd || errno != ENOENT) return fd;
  }
}

void SyncPath(const std::string& path, int flags) noexcept {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
  if (fd) ::fsync(fd.Get());
}

}  // namespace

std::vector<std::string> FindFiles(const std::string& mask) {
  std::vector<std::string> names;
  glob_t found{};
  if (::glob(GlobPattern(mask).c_str(), GLOB_PERIOD | GLOB_NOSORT, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) {
      const std::string name = found.gl_pathv[i];
      const std::string base = std::filesystem::path(name).filename().string();
      if (base != "." && base != "..") names.push_back(name);
    }
  }
  ::globfree(&found);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileBytes(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) ThrowErrno(errno, "Cannot open file", path);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno, "Cannot read file", path);
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

void ReplaceFileBytes(const std::string& path, std::string_view bytes, bool durable) {
  const std::filesystem::path target(path);
  const std::string temporary =
      (target.parent_path() / ("." + target.filename().string() + ".tmp")).string();
  {
    UniqueFd fd = CreateWithMode(temporary, O_WRONLY | O_TRUNC);
    if (!fd) ThrowErrno(errno, "Cannot create file", path);
    if (!WriteAll(fd.Get(), bytes)) {
      const int error = errno;
      ::unlink(temporary.c_str());
      ThrowErrno(error, "Cannot write file", path);
    }
    // The data must be on disk before the rename makes it the file's content; a failed fsync is
    // ignored like every other flush failure (the write itself succeeded).
    if (durable) ::fsync(fd.Get());
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    ThrowErrno(error, "Cannot create file", path);
  }
  if (durable) SyncPath(DirectoryOf(path), O_DIRECTORY);
}

void AppendFileBytes(const std::string& path, std::string_view bytes) {
  UniqueFd fd = OpenForAppend(path);
  if (!fd) ThrowErrno(errno, "Cannot open file", path);
  // Waits while another appender writes; only a signal interrupts the wait, and it is resumed.
  while (::flock(fd.Get(), LOCK_EX) != 0 && errno == EINTR) continue;
  if (!WriteAll(fd.Get(), bytes)) ThrowErrno(errno, "Cannot write file", path);
}

bool DeleteFileAndSync(const std::string& path) {
  if (::unlink(path.c_str()) == 0) {
    SyncPath(DirectoryOf(path), O_DIRECTORY);
    return true;
  }
  struct stat info {};
  return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

void FlushToStableStorage(const std::string& path) noexcept {
  SyncPath(path, 0);
  SyncPath(DirectoryOf(path), O_DIRECTORY);
}

}  // namespace kelvora::platform
