// The removal of the service's expired log files, and the daily timer that runs it.
#include "service/LogRetention.h"

#include "platform/FolderSweep.h"
#include "platform/Utf8Path.h"
#include "protocol/OperationJournal.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace kelvora::service {
namespace {

namespace fs = std::filesystem;

// The day a name ending in "dd-mm-yyyy.log" names, when it is a real date. Whether the rest of
// the name and its folder are the service's own is checked by comparing with the names the logs
// themselves compute for that day.
std::optional<platform::TDateTime> DayOfName(const std::string& name) {
  constexpr std::string_view kSuffix = ".log";
  constexpr size_t kDateLength = 10;  // dd-mm-yyyy
  if (name.size() < kDateLength + kSuffix.size() || !name.ends_with(kSuffix)) return std::nullopt;
  const std::string_view date =
      std::string_view(name).substr(name.size() - kSuffix.size() - kDateLength, kDateLength);
  if (date[2] != '-' || date[5] != '-') return std::nullopt;
  const auto number = [&date](size_t from, size_t length) -> std::optional<int> {
    int value = 0;
    for (const char c : date.substr(from, length)) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  const auto day = number(0, 2);
  const auto month = number(3, 2);
  const auto year = number(6, 4);
  if (!day || !month || !year) return std::nullopt;
  return platform::TryEncodeDate(*year, *month, *day);
}

// Whether file is one of the service's own dated log files for its day: exactly the path the
// service log or the TEF log gives that day.
bool IsOwnLogFile(const TServiceLog& log, const fs::path& file, platform::TDateTime day) {
  return file == log.FileFor(day) || file == TefLogFilePath(log.BaseDir(), day) ||
         file == protocol::TOperationJournal::FileOf(log.BaseDir(), day);
}

}  // namespace

int RemoveExpiredLogs(const TServiceLog& log, platform::TDateTime today,
                      int32_t keepDays) noexcept {
  if (keepDays <= 0) return 0;
  try {
    const platform::TDateTime limit = std::floor(today) - std::min(keepDays, kMaxLogKeepDays);
    const fs::path logFolder = log.BaseDir() / "Log";
    // No link is followed, the log folder's own included: what a link points to was not written
    // here.
    return platform::SweepFolderTree(
        logFolder, [&](const std::string& folder, const std::string& file) {
          const std::optional<platform::TDateTime> day = DayOfName(file);
          return day && *day < limit &&
                 IsOwnLogFile(
                     log, logFolder / platform::PathFromUtf8(folder) / platform::PathFromUtf8(file),
                     *day);
        });
  } catch (...) {
    return 0;
  }
}

TLogRetention::TLogRetention(const TServiceLog& log, const platform::TIniFile& config,
                             const TSystemEvents& events, const platform::Clock& clock)
    : log_(log), config_(config), events_(events), clock_(clock) {}

void TLogRetention::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || stopping_) return;
  thread_ = std::thread([this] { Loop(); });
}

void TLogRetention::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TLogRetention::RunOnce() const {
  const int32_t keepDays = config_.ReadInteger("log", "keep_days", 0);
  const int removed = RemoveExpiredLogs(log_, platform::Now(clock_), keepDays);
  if (removed == 0) return;
  const std::string text = "Arquivos de log com mais de " + std::to_string(keepDays) +
                           " dias removidos: " + std::to_string(removed) + ".";
  log_.GravaLog(text);
  events_.Report(TSystemEventId::OldLogsRemoved, text,
                 {{"REMOVED_FILES", std::to_string(removed)}});
}

void TLogRetention::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    RunOnce();
    lock.lock();
    wake_.wait_for(lock, std::chrono::hours(24), [this] { return stopping_; });
  }
}

}  // namespace kelvora::service
