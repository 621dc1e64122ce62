// The journal of systemd as the system log on Linux, written with its native protocol through
// libsystemd.
#include "platform/SystemLog.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kelvora::platform {
namespace {

// The journal's priorities are syslog's levels.
int JournalPriority(SystemLogSeverity severity) {
  switch (severity) {
    case SystemLogSeverity::Error:
      return 3;
    case SystemLogSeverity::Warning:
      return 4;
    case SystemLogSeverity::Information:
      break;
  }
  return 6;
}

class JournalLog final : public SystemLog {
 public:
  explicit JournalLog(std::string_view identifier) : identifier_(identifier) {}

  bool Write(const SystemLogEntry& entry) noexcept override {
    try {
      std::vector<std::string> fields{
          "MESSAGE=" + std::string(entry.Message),
          "PRIORITY=" + std::to_string(JournalPriority(entry.Severity)),
          "SYSLOG_IDENTIFIER=" + identifier_,
          "KELVORA_EVENT=" + std::string(entry.EventName),
          "KELVORA_EVENT_ID=" + std::to_string(entry.EventId),
      };
      for (const auto& [name, value] : entry.Fields)
        fields.push_back("KELVORA_" + name + "=" + value);
      std::vector<iovec> vector;
      for (std::string& field : fields) vector.push_back({field.data(), field.size()});
      return sd_journal_sendv(vector.data(), static_cast<int>(vector.size())) == 0;
    } catch (...) {
      return false;  // out of memory
    }
  }

 private:
  std::string identifier_;
};

// systemd sets JOURNAL_STREAM to "<device>:<inode>" of the stream it connects to the service's
// stdout and stderr. The variable is inherited by children whose stderr goes elsewhere, so it
// counts only when it names this process's own stderr.
bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  struct stat status {};
  if (fstat(STDERR_FILENO, &status) != 0) return false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  char extra = 0;
  if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &extra) != 2) return false;
  return device == status.st_dev && inode == status.st_ino;
}

}  // namespace

std::unique_ptr<SystemLog> OpenSystemLog(std::string_view sourceName) {
  if (!StderrIsJournal()) return nullptr;
  return std::make_unique<JournalLog>(sourceName);
}

}  // namespace kelvora::platform
