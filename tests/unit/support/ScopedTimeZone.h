// Runs a test body in another time zone and restores the process's zone afterwards. On Windows
// the zone is the system's and a process cannot choose its own: the tests that need one skip
// there (KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE first in the test).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#ifdef _WIN32
#define KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE() \
  GTEST_SKIP() << "the time zone is the system's on Windows; a process cannot choose its own"
#else
#define KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE() static_cast<void>(0)
#endif

namespace kelvora::testing {

#ifdef _WIN32
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char*) {}
};
#else
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};
#endif

}  // namespace kelvora::testing
