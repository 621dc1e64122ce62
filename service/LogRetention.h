// Log retention: the service's own dated log files (the service log, the TEF log and the journal of
// operations) older than "[log] keep_days" are removed at the start and once a day; nothing else
// under Log/ is touched.
#pragma once

#include "platform/DateTime.h"
#include "platform/IniFile.h"
#include "service/ServiceLog.h"
#include "service/SystemEvents.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvora::service {

// The longest "[log] keep_days" honoured: a larger value keeps everything for a century anyway,
// and the limit keeps the date arithmetic far from overflow.
inline constexpr int32_t kMaxLogKeepDays = 36500;

// Removes under log's base directory the files named exactly as the service log (log.FileFor) or
// the TEF log (TefLogFilePath) name a day, in that day's own month folder, when that day is more
// than keepDays days before today's date; then the month folders that this left empty. Anything
// else stays: a foreign file, a name close to the dated form, a symbolic link, a file in another
// month's folder. keepDays of 0 or less removes nothing. Returns how many files were removed;
// failures to remove leave the file and are not counted. Never throws.
int RemoveExpiredLogs(const TServiceLog& log, platform::TDateTime today, int32_t keepDays) noexcept;

// The daily run of RemoveExpiredLogs on a thread of its own, which sleeps between runs: it wakes
// once a day, or to stop. keep_days is read from the configuration at each run, so an edit takes
// effect at the next one; a run that removed files says so in the service log and the system's.
class TLogRetention {
 public:
  TLogRetention(const TServiceLog& log, const platform::TIniFile& config,
                const TSystemEvents& events, const platform::Clock& clock);
  ~TLogRetention() { Stop(); }
  TLogRetention(const TLogRetention&) = delete;
  TLogRetention& operator=(const TLogRetention&) = delete;

  // Runs at once and then daily; later calls (a start after a stop) do nothing.
  void Start();
  // Ends the thread, waiting for a run in progress; the log, configuration and events may be
  // released afterwards.
  void Stop();

 private:
  void RunOnce() const;
  void Loop();

  const TServiceLog& log_;
  const platform::TIniFile& config_;
  const TSystemEvents& events_;
  const platform::Clock& clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kelvora::service
