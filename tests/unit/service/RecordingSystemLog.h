// A system log that keeps what it is given, for the tests of the events the service reports.
#pragma once

#include "platform/SystemLog.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelvora::service::testing {

struct RecordedEntry {
  uint32_t EventId;
  std::string EventName;
  platform::SystemLogSeverity Severity;
  std::string Message;
  std::map<std::string, std::string> Fields;
};

// The entries, shared between the log (owned by TSystemEvents) and the test.
class RecordedEntries {
 public:
  void Add(RecordedEntry entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<RecordedEntry> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RecordedEntry> entries_;
};

class RecordingSystemLog final : public platform::SystemLog {
 public:
  explicit RecordingSystemLog(std::shared_ptr<RecordedEntries> entries)
      : entries_(std::move(entries)) {}
  bool Write(const platform::SystemLogEntry& entry) noexcept override {
    entries_->Add({entry.EventId, std::string(entry.EventName), entry.Severity,
                   std::string(entry.Message),
                   std::map<std::string, std::string>(entry.Fields.begin(), entry.Fields.end())});
    return true;
  }

 private:
  std::shared_ptr<RecordedEntries> entries_;
};

}  // namespace kelvora::service::testing
