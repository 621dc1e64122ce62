// The Application event log as the system log on Windows. The installer registers the source
// with this executable as its message file, so the event viewer reads each event id's text from
// the message table compiled into the executable (SystemEvents.mc) with the entry's text as its
// one insertion string.
#include "platform/SystemLog.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

WORD EventType(SystemLogSeverity severity) {
  switch (severity) {
    case SystemLogSeverity::Error:
      return EVENTLOG_ERROR_TYPE;
    case SystemLogSeverity::Warning:
      return EVENTLOG_WARNING_TYPE;
    case SystemLogSeverity::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

class EventLog final : public SystemLog {
 public:
  explicit EventLog(HANDLE source) : source_(source) {}
  ~EventLog() override { ::DeregisterEventSource(source_); }
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  bool Write(const SystemLogEntry& entry) noexcept override {
    try {
      const std::wstring text = win32::Widen(entry.Message);
      LPCWSTR strings[] = {text.c_str()};
      return ::ReportEventW(source_, EventType(entry.Severity), 0, entry.EventId, nullptr, 1, 0,
                            strings, nullptr) != FALSE;
    } catch (...) {
      return false;  // out of memory
    }
  }

 private:
  HANDLE source_;
};

}  // namespace

std::unique_ptr<SystemLog> OpenSystemLog(std::string_view sourceName) {
  // A source that is not registered still opens (the viewer then shows the text without the
  // message table), so a copy run by hand still reports.
  HANDLE source = ::RegisterEventSourceW(nullptr, win32::Widen(sourceName).c_str());
  if (source == nullptr) return nullptr;
  return std::make_unique<EventLog>(source);
}

}  // namespace kelvora::platform
