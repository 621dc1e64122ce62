// A clock stopped at a local date and time, for the tests of what the service dates.
#pragma once

#include "platform/DateTime.h"

#include <chrono>
#include <ctime>

namespace kelvora::service::testing {

class FixedClock final : public platform::Clock {
 public:
  FixedClock(int year, int month, int day, int hour = 14, int minute = 3, int second = 22) {
    Set(year, month, day, hour, minute, second);
  }
  void Set(int year, int month, int day, int hour = 14, int minute = 3, int second = 22) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    now_ = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  }
  std::chrono::system_clock::time_point Now() const override { return now_; }

 private:
  std::chrono::system_clock::time_point now_;
};

}  // namespace kelvora::service::testing
