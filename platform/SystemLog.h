// The operating system's own log, beside the service's log files: the journal of systemd on
// Linux, the Application event log on Windows. Operators and their monitoring read events there
// without opening the service's files.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kelvora::platform {

enum class SystemLogSeverity { Error, Warning, Information };

// One named value an entry carries besides its text: the journal stores it as the field
// KELVORA_<Name>; the event log has no place for it and keeps only the text.
using SystemLogField = std::pair<std::string, std::string>;

struct SystemLogEntry {
  uint32_t EventId = 0;        // stable: documented, and the message table's id on Windows
  std::string_view EventName;  // stable too: "payment-approved"
  SystemLogSeverity Severity = SystemLogSeverity::Information;
  std::string_view Message;  // one line of UTF-8 text
  std::span<const SystemLogField> Fields;
};

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  // Writes one entry; true when the system took it. A failure loses the entry: the callers carry
  // on, as they do when a service log line cannot be written.
  virtual bool Write(const SystemLogEntry& entry) noexcept = 0;
};

// The system log of the process, or nullptr where there is none to write to: on Linux the journal
// only when systemd runs the service (JOURNAL_STREAM names the process's stderr), so a service
// started by hand or by another supervisor writes nothing there; on Windows the Application event
// log under sourceName.
std::unique_ptr<SystemLog> OpenSystemLog(std::string_view sourceName);

}  // namespace kelvora::platform
