// The ledger file: one event per line, appended under a lock and forced to disk.
#include "Ledger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

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

bool needsEscape(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '%';
}

std::string encode(std::string_view value) {
  std::string out;
  for (unsigned char c : value) {
    if (needsEscape(c)) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string decode(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 &&
        hexDigit(value[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

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

bool isSettlement(const Event& e) {
  return e.kind() == "CONFIRMED" || e.kind() == "UNDONE";
}

bool sameDocument(const Event& a, const Event& b) {
  return a.get("doc") == b.get("doc") && a.get("date") == b.get("date");
}

}  // namespace

Event& Event::set(std::string key, std::string value) {
  fields_.emplace_back(std::move(key), std::move(value));
  return *this;
}

std::string Event::get(std::string_view key) const {
  for (const auto& [k, v] : fields_) {
    if (k == key) return v;
  }
  return "";
}

std::string Event::line() const {
  std::string text = kind_;
  for (const auto& [k, v] : fields_) text += " " + k + "=" + encode(v);
  return text;
}

std::optional<Event> Event::parse(std::string_view line) {
  std::istringstream words{std::string(line)};
  std::string word;
  if (!(words >> word) || word.find('=') != std::string::npos) return std::nullopt;
  Event event(word);
  while (words >> word) {
    const auto eq = word.find('=');
    if (eq == std::string::npos) continue;
    event.set(word.substr(0, eq), decode(std::string_view(word).substr(eq + 1)));
  }
  return event;
}

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

void Ledger::restart() {
  summary_ = LedgerSummary();
  taken_ = 0;
  lastLine_.clear();
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

  // Another file under the same name, or this one cut shorter, than the one read so far: what was
  // taken from it no longer holds. A file replaced by one that reuses the inode number is caught
  // by the last line taken no longer standing where it stood.
  bool same = info.st_dev == device_ && info.st_ino == inode_ && info.st_size >= taken_;
  if (same && !lastLine_.empty()) {
    std::string there(lastLine_.size(), '\0');
    const auto at = taken_ - static_cast<off_t>(lastLine_.size());
    same =
        ::pread(fd.get(), there.data(), there.size(), at) == static_cast<ssize_t>(there.size()) &&
        there == lastLine_;
  }
  if (!same) restart();
  device_ = info.st_dev;
  inode_ = info.st_ino;

  std::string partial;  // bytes after the last LF read: a line still being written, or torn
  char block[8192];
  for (off_t at = taken_;;) {
    const ssize_t n = ::pread(fd.get(), block, sizeof block, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return nullptr;
    if (n == 0) break;
    at += n;
    partial.append(block, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (auto end = partial.find('\n'); end != std::string::npos; end = partial.find('\n', start)) {
      if (auto event = Event::parse(std::string_view(partial).substr(start, end - start))) {
        summary_.apply(*event);
      }
      lastLine_ = partial.substr(start, end + 1 - start);
      taken_ += static_cast<off_t>(end + 1 - start);
      start = end + 1;
    }
    partial.erase(0, start);
  }
  return &summary_;
}

void LedgerSummary::apply(const Event& event) {
  const long long line = lines_++;
  if (event.kind() == "APPROVED") {
    pending_.push_back(event);
    pendingOrder_.push_back(line);
  } else if (isSettlement(event)) {
    for (std::size_t i = 0; i < pending_.size();) {
      if (!sameDocument(pending_[i], event)) {
        ++i;
        continue;
      }
      if (event.kind() == "CONFIRMED" && pendingOrder_[i] > lastConfirmedOrder_) {
        lastConfirmed_ = pending_[i];
        lastConfirmedOrder_ = pendingOrder_[i];
      }
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
      pendingOrder_.erase(pendingOrder_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  const auto nsu = event.get("nsu");
  if (!nsu.empty() && nsu.size() <= 15 &&
      nsu.find_first_not_of("0123456789") == std::string::npos) {
    highestNsu_ = std::max(highestNsu_, std::stoll(nsu));
  }
}

std::optional<Event> LedgerSummary::lastStandingApproval() const {
  if (!pending_.empty() && pendingOrder_.back() > lastConfirmedOrder_) return pending_.back();
  return lastConfirmed_;
}

}  // namespace kelvora::sim
