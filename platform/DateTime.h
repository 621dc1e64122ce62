// Date-time values as days since 30 December 1899 (the fraction is the time of day), with
// encoding, decoding, the clock and the format patterns the service writes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::platform {

// Days since 30 December 1899; the fraction is the time of day. 0 means "no date" where a field
// can be empty. Local time unless a caller says UTC.
using TDateTime = double;

struct DateParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Encodes a calendar date and time of day; nullopt when any part is out of range
// (February 30th, hour 24, year 0 ...). Years run from 1 to 9999.
std::optional<TDateTime> TryEncodeDateTime(const DateParts& parts);
std::optional<TDateTime> TryEncodeDate(int year, int month, int day);
std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int millisecond = 0);

// Splits a value into its calendar parts; the time is rounded to the nearest millisecond.
DateParts DecodeDateTime(TDateTime value);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Converts between the value and the system clock, in local time (the process's TZ) or UTC.
TDateTime FromTimePointLocal(std::chrono::system_clock::time_point tp);
TDateTime FromTimePointUTC(std::chrono::system_clock::time_point tp);

// Converts a local date-time to UTC with the offset in force at that local time (daylight
// saving included). nullopt for a local time that does not exist, inside a daylight-saving gap.
std::optional<TDateTime> LocalToUTC(TDateTime local);

// The current time, injectable wherever a test needs to move it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::system_clock::time_point Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::system_clock::now();
  }
};

// The process-wide system clock.
const Clock& DefaultClock();

// Local date-time now, from the given clock.
TDateTime Now(const Clock& clock = DefaultClock());
TDateTime NowUTC(const Clock& clock = DefaultClock());

// Formats a value with a date-time pattern. Letters are case-insensitive:
//   d dd (day), m mm (month), yy yyyy (year), h hh (hour, 24-hour clock), n nn (minute),
//   s ss (second), z zzz (millisecond); "/" and ":" become the pt-BR date and time separators;
//   text in double or single quotes is copied; every other character is copied as it is.
// Examples: "dd/mm/yyyy", "DDMMYYYY", "YYYYMMDDHHNNSS", "HHNNSS", "dd-mm-yyyy".
std::string FormatDateTime(std::string_view pattern, TDateTime value);

// Formats a number with two decimals and the pt-BR comma ("0.00" pattern): 12.345 gives "12,35",
// rounding the decimal digits half away from zero.
std::string FormatFloat2(double value);

}  // namespace kelvora::platform
