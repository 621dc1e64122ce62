// Calendar arithmetic for the day-count date-time value, and its text formats.
#include "platform/DateTime.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/FormatSettings.h"
#include "platform/LocalTime.h"

namespace kelvora::platform {
namespace {

constexpr double kMsPerDay = 86400000.0;
// Days from 1970-01-01 to 1899-12-30.
constexpr long long kUnixEpochOffsetDays = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

TDateTime FromTm(const std::tm& tm, int millisecond) {
  DateParts parts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min,         tm.tm_sec,     millisecond};
  if (parts.second > 59) parts.second = 59;  // a leap second reads as the second before it
  return TryEncodeDateTime(parts).value_or(0);
}

TDateTime FromTimePoint(std::chrono::system_clock::time_point tp, bool utc) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm tm{};
  if (!BreakDownTime(seconds, utc, tm)) return 0;
  return FromTm(tm, static_cast<int>(ms - static_cast<long long>(seconds) * 1000));
}

}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<TDateTime> TryEncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  return static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochOffsetDays);
}

std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return std::nullopt;
  }
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
}

std::optional<TDateTime> TryEncodeDateTime(const DateParts& p) {
  auto date = TryEncodeDate(p.year, p.month, p.day);
  auto time = TryEncodeTime(p.hour, p.minute, p.second, p.millisecond);
  if (!date || !time) return std::nullopt;
  // Before the epoch the time of day is added to the magnitude, as the day count requires.
  return *date >= 0 ? *date + *time : *date - *time;
}

DateParts DecodeDateTime(TDateTime value) {
  DateParts parts;
  long long total_ms = std::llround(std::fabs(value) * kMsPerDay);
  long long days = total_ms / static_cast<long long>(kMsPerDay);
  long long ms_of_day = total_ms % static_cast<long long>(kMsPerDay);
  if (value < 0) days = -days;
  CivilFromDays(days - kUnixEpochOffsetDays, parts.year, parts.month, parts.day);
  parts.hour = static_cast<int>(ms_of_day / 3600000);
  parts.minute = static_cast<int>(ms_of_day / 60000 % 60);
  parts.second = static_cast<int>(ms_of_day / 1000 % 60);
  parts.millisecond = static_cast<int>(ms_of_day % 1000);
  return parts;
}

TDateTime FromTimePointLocal(std::chrono::system_clock::time_point tp) {
  return FromTimePoint(tp, false);
}

TDateTime FromTimePointUTC(std::chrono::system_clock::time_point tp) {
  return FromTimePoint(tp, true);
}

std::optional<TDateTime> LocalToUTC(TDateTime local) {
  const DateParts p = DecodeDateTime(local);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  const std::optional<std::time_t> seconds = LocalCalendarToTime(tm);
  if (!seconds) return std::nullopt;
  const auto tp =
      std::chrono::system_clock::from_time_t(*seconds) + std::chrono::milliseconds(p.millisecond);
  return FromTimePointUTC(tp);
}

const Clock& DefaultClock() {
  static const SystemClock clock;
  return clock;
}

TDateTime Now(const Clock& clock) {
  return FromTimePointLocal(clock.Now());
}
TDateTime NowUTC(const Clock& clock) {
  return FromTimePointUTC(clock.Now());
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  const FormatSettings& fs = PtBR();
  std::string out;
  auto number = [&out](int v, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, v);
    out += buffer;
  };
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t run = 1;
    while (i + run < pattern.size() &&
           std::tolower(static_cast<unsigned char>(pattern[i + run])) == lower) {
      ++run;
    }
    switch (lower) {
      case 'd':
        number(p.day, run >= 2 ? 2 : 1);
        break;
      case 'm':
        number(p.month, run >= 2 ? 2 : 1);
        break;
      case 'y':
        run >= 4 ? number(p.year, 4) : number(p.year % 100, 2);
        break;
      case 'h':
        number(p.hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        number(p.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        number(p.second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        number(p.millisecond, run >= 3 ? 3 : 1);
        break;
      case '/':
        out.append(run, fs.DateSeparator);
        break;
      case ':':
        out.append(run, fs.TimeSeparator);
        break;
      case '"':
      case '\'': {
        const size_t close = pattern.find(c, i + 1);
        const size_t end = close == std::string_view::npos ? pattern.size() : close;
        out.append(pattern.substr(i + 1, end - i - 1));
        i = end == pattern.size() ? end : end + 1;
        continue;
      }
      default:
        out.append(pattern.substr(i, run));
        break;
    }
    i += run;
  }
  return out;
}

std::string FormatFloat2(double value) {
  // Take the value to 15 significant decimal digits, the precision a double holds reliably, so
  // 1.005 reads as 1.005 and not as the binary 1.00499..., then round half away from zero.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
  long long mantissa = 0;  // the 15 digits as an integer: value = mantissa * 10^(exponent - 14)
  const char* p = buffer;
  for (; *p != 'e'; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p))) mantissa = mantissa * 10 + (*p - '0');
  }
  const int exponent = std::atoi(p + 1);
  long long cents = 0;
  const int shift = 12 - exponent;  // cents = mantissa * 10^(exponent - 12)
  if (shift <= 0) {
    cents = mantissa;
    for (int i = 0; i < -shift && cents < 1000000000000000000LL / 10; ++i) cents *= 10;
  } else if (shift <= 15) {
    long long divisor = 1;
    for (int i = 0; i < shift; ++i) divisor *= 10;
    cents = mantissa / divisor + ((mantissa % divisor) * 2 >= divisor ? 1 : 0);
  }
  const bool negative = value < 0 && cents != 0;
  std::snprintf(buffer, sizeof buffer, "%s%lld%c%02lld", negative ? "-" : "", cents / 100,
                PtBR().DecimalSeparator, cents % 100);
  return buffer;
}

}  // namespace kelvora::platform
