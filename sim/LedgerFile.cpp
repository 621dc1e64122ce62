// The ledger file with POSIX calls: appends under flock and fsync, reads with pread from where the
// last read stopped.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Ledger.h"

namespace kelvora::sim {
namespace {

// Owns one open file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Like write(2) but makes sure the whole of `data` is written before returning.
bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The length of the file up to and including its last LF; nothing when it cannot be read.
std::optional<off_t> completeLength(int fd, off_t size) {
  char block[4096];
  for (off_t end = size; end > 0;) {
    const off_t start = std::max<off_t>(0, end - static_cast<off_t>(sizeof block));
    const auto want = static_cast<std::size_t>(end - start);
    if (::pread(fd, block, want, start) != static_cast<ssize_t>(want)) return std::nullopt;
    for (auto i = want; i > 0; --i) {
      if (block[i - 1] == '\n') return start + static_cast<off_t>(i);
    }
    end = start;
  }
  return 0;
}

// A new file's directory entry must reach the disk too, or a crash could lose the whole file.
bool syncDirectory(const std::filesystem::path& dir) {
  const Descriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

}  // namespace

bool Ledger::append(const Event& event) const {
  const Descriptor fd(::open(file_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) return false;
  // Another process sharing the library's folder may append at the same moment.
  if (::flock(fd.get(), LOCK_EX) != 0) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return false;
  // A line that a crash cut short was never reported to anyone: drop it rather than let the new
  // event complete it into something that looks like a whole line.
  const auto end = completeLength(fd.get(), info.st_size);
  if (!end || (*end != info.st_size && ::ftruncate(fd.get(), *end) != 0)) return false;
  if (!writeAll(fd.get(), event.line() + "\n") || ::fsync(fd.get()) != 0) return false;
  return info.st_size > 0 || syncDirectory(file_.parent_path());
}

const LedgerSummary* Ledger::read() {
  const Descriptor fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno != ENOENT) return nullptr;
    restart();  // deleted: the server starts from nothing
    return &summary_;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;

  return take({static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)},
              info.st_size, [&](char* into, std::size_t size, std::int64_t at) -> long long {
                for (;;) {
                  const ssize_t n = ::pread(fd.get(), into, size, at);
                  if (n < 0 && errno == EINTR) continue;
                  return n;
                }
              });
}

}  // namespace kelvora::sim
