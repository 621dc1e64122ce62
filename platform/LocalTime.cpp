// Time-zone conversions through the C library (localtime_r, mktime) and the process's TZ.
#include "platform/LocalTime.h"

#include <cerrno>
#include <mutex>

namespace kelvora::platform {
namespace {

// The C library reads the time zone into process-wide state inside localtime_r and mktime under a
// lock of its own that ThreadSanitizer cannot see; taking ours as well makes the calls visibly
// serialised, at no cost worth measuring.
std::mutex& TimeZoneLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

bool BreakDownTime(std::time_t seconds, bool utc, std::tm& calendar) {
  if (utc) return gmtime_r(&seconds, &calendar) != nullptr;
  const std::lock_guard guard(TimeZoneLock());
  return localtime_r(&seconds, &calendar) != nullptr;
}

std::optional<std::time_t> LocalCalendarToTime(const std::tm& local) {
  std::tm tm = local;
  tm.tm_isdst = -1;
  const std::lock_guard guard(TimeZoneLock());
  errno = 0;
  const std::time_t seconds = std::mktime(&tm);
  if (seconds == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
  // mktime moves a time inside a gap to a time that exists; such a time was never local.
  if (tm.tm_year != local.tm_year || tm.tm_mon != local.tm_mon || tm.tm_mday != local.tm_mday ||
      tm.tm_hour != local.tm_hour || tm.tm_min != local.tm_min || tm.tm_sec != local.tm_sec) {
    return std::nullopt;
  }
  return seconds;
}

}  // namespace kelvora::platform
