// The ledger file: one event per line, appended under a lock and forced to disk.
#include "Ledger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
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

std::optional<std::vector<Event>> Ledger::read() const {
  std::vector<Event> events;
  std::ifstream in(file_, std::ios::binary);
  if (!in) {
    if (!std::filesystem::exists(file_)) return events;
    return std::nullopt;
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  std::size_t start = 0;
  for (auto end = content.find('\n'); end != std::string::npos; end = content.find('\n', start)) {
    if (auto event = Event::parse(std::string_view(content).substr(start, end - start))) {
      events.push_back(std::move(*event));
    }
    start = end + 1;
  }
  return events;
}

std::vector<Event> pendingApprovals(const std::vector<Event>& events) {
  std::vector<Event> pending;
  for (const auto& e : events) {
    if (e.kind() == "APPROVED") {
      pending.push_back(e);
    } else if (isSettlement(e)) {
      std::erase_if(pending, [&](const Event& p) { return sameDocument(p, e); });
    }
  }
  return pending;
}

long long highestNsu(const std::vector<Event>& events) {
  long long highest = 0;
  for (const auto& e : events) {
    const auto nsu = e.get("nsu");
    if (nsu.empty() || nsu.size() > 15 ||
        nsu.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    highest = std::max(highest, std::stoll(nsu));
  }
  return highest;
}

std::optional<Event> lastStandingApproval(const std::vector<Event>& events) {
  struct Approval {
    const Event* event;
    bool settled = false;
    bool undone = false;
  };
  std::vector<Approval> approvals;
  for (const auto& e : events) {
    if (e.kind() == "APPROVED") {
      approvals.push_back({&e});
    } else if (isSettlement(e)) {
      for (auto& a : approvals) {
        if (a.settled || !sameDocument(*a.event, e)) continue;
        a.settled = true;
        a.undone = e.kind() == "UNDONE";
      }
    }
  }
  for (auto it = approvals.rbegin(); it != approvals.rend(); ++it) {
    if (!it->undone) return *it->event;
  }
  return std::nullopt;
}

}  // namespace kelvora::sim
