// Time-zone conversions through the Windows API: the system's time zone and its daylight-saving
// rules.
#include "platform/LocalTime.h"

#include <windows.h>

#include <cstdint>

namespace kelvora::platform {
namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

bool ToSystemTime(std::time_t seconds, SYSTEMTIME& utc) {
  const int64_t ticks = static_cast<int64_t>(seconds) * kTicksPerSecond + kUnixEpochFileTime;
  if (ticks < 0) return false;
  FILETIME file{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  return ::FileTimeToSystemTime(&file, &utc) != 0;
}

std::optional<std::time_t> FromSystemTime(const SYSTEMTIME& utc) {
  FILETIME file{};
  if (!::SystemTimeToFileTime(&utc, &file)) return std::nullopt;
  const int64_t ticks =
      (static_cast<int64_t>(file.dwHighDateTime) << 32) | static_cast<int64_t>(file.dwLowDateTime);
  return static_cast<std::time_t>((ticks - kUnixEpochFileTime) / kTicksPerSecond);
}

void ToCalendar(const SYSTEMTIME& time, std::tm& calendar) {
  calendar = std::tm{};
  calendar.tm_year = time.wYear - 1900;
  calendar.tm_mon = time.wMonth - 1;
  calendar.tm_mday = time.wDay;
  calendar.tm_hour = time.wHour;
  calendar.tm_min = time.wMinute;
  calendar.tm_sec = time.wSecond;
  calendar.tm_wday = time.wDayOfWeek;
}

bool SameCalendar(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

}  // namespace

bool BreakDownTime(std::time_t seconds, bool utc, std::tm& calendar) {
  SYSTEMTIME universal{};
  if (!ToSystemTime(seconds, universal)) return false;
  if (utc) {
    ToCalendar(universal, calendar);
    return true;
  }
  SYSTEMTIME local{};
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return false;
  ToCalendar(local, calendar);
  return true;
}

std::optional<std::time_t> LocalCalendarToTime(const std::tm& wanted) {
  if (wanted.tm_year + 1900 < 1601 || wanted.tm_year + 1900 > 30827) return std::nullopt;
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(wanted.tm_year + 1900);
  local.wMonth = static_cast<WORD>(wanted.tm_mon + 1);
  local.wDay = static_cast<WORD>(wanted.tm_mday);
  local.wHour = static_cast<WORD>(wanted.tm_hour);
  local.wMinute = static_cast<WORD>(wanted.tm_min);
  local.wSecond = static_cast<WORD>(wanted.tm_sec);
  SYSTEMTIME universal{};
  if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal)) return std::nullopt;
  // A local time inside a daylight-saving gap does not come back from its UTC moment.
  SYSTEMTIME back{};
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &back) ||
      !SameCalendar(local, back)) {
    return std::nullopt;
  }
  return FromSystemTime(universal);
}

}  // namespace kelvora::platform
