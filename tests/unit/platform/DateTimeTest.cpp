// The day-count date-time value: encoding, decoding and text formats.
#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include "tests/unit/support/ScopedTimeZone.h"

#include <cstdlib>
#include <ctime>

namespace kelvora::platform {
namespace {

using kelvora::testing::ScopedTimeZone;

TEST(DateTime, EncodesKnownDays) {
  EXPECT_EQ(*TryEncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(*TryEncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(*TryEncodeDate(2024, 12, 31), 45657);
  EXPECT_DOUBLE_EQ(*TryEncodeTime(12, 0, 0), 0.5);
}

TEST(DateTime, RefusesInvalidParts) {
  const DateParts invalid[] = {
      {2023, 2, 29, 0, 0, 0, 0}, {2024, 13, 1, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0},
      {0, 1, 1, 0, 0, 0, 0},     {2024, 1, 1, 24, 0, 0, 0}, {2024, 1, 1, 0, 60, 0, 0},
      {2024, 1, 1, 0, 0, 60, 0},
  };
  for (const auto& p : invalid) {
    EXPECT_FALSE(TryEncodeDateTime(p)) << p.year << "-" << p.month << "-" << p.day << " " << p.hour;
  }
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29));
}

TEST(DateTime, DecodeRoundTripsToTheMillisecond) {
  const DateParts p{2025, 10, 7, 14, 3, 22, 999};
  const DateParts back = DecodeDateTime(*TryEncodeDateTime(p));
  EXPECT_EQ(back.year, 2025);
  EXPECT_EQ(back.month, 10);
  EXPECT_EQ(back.day, 7);
  EXPECT_EQ(back.hour, 14);
  EXPECT_EQ(back.minute, 3);
  EXPECT_EQ(back.second, 22);
  EXPECT_EQ(back.millisecond, 999);
}

TEST(DateTime, FormatsThePatternsTheServiceWrites) {
  const TDateTime value = *TryEncodeDateTime({2025, 10, 7, 14, 3, 22, 45});
  const std::pair<const char*, const char*> cases[] = {
      {"dd/mm/yyyy", "07/10/2025"},         {"DDMMYYYY", "07102025"},
      {"YYYYMMDDHHNNSS", "20251007140322"}, {"HHNNSS", "140322"},
      {"dd/mm/yyyy hh:nn:ss", "07/10/2025 14:03:22"},
      {"hh:nn:ss.zzz", "14:03:22.045"},     {"dd-mm-yyyy", "07-10-2025"},
      {"mm-yyyy", "10-2025"},               {"'TEF-'dd", "TEF-07"},
  };
  for (const auto& [pattern, expected] : cases) {
    EXPECT_EQ(FormatDateTime(pattern, value), expected) << pattern;
  }
}

TEST(DateTime, FormatFloat2RoundsTheDecimalValueHalfAwayFromZero) {
  const std::pair<double, const char*> cases[] = {
      {0, "0,00"},         {12.34, "12,34"},  {1.005, "1,01"},       {2.675, "2,68"},
      {-1.005, "-1,01"},   {0.001, "0,00"},   {-0.001, "0,00"},      {1234567.891, "1234567,89"},
      {0.125, "0,13"},     {99.995, "100,00"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(FormatFloat2(value), expected) << value;
}

class FixedClock : public Clock {
 public:
  explicit FixedClock(std::chrono::system_clock::time_point tp) : tp_(tp) {}
  std::chrono::system_clock::time_point Now() const override { return tp_; }

 private:
  std::chrono::system_clock::time_point tp_;
};

TEST(DateTime, NowUTCReadsTheInjectedClock) {
  // 2025-10-07T14:03:22.500Z
  const FixedClock clock(std::chrono::system_clock::time_point(std::chrono::milliseconds(1759845802500)));
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", NowUTC(clock)), "2025-10-07 14:03:22.500");
}

}  // namespace
}  // namespace kelvora::platform

namespace kelvora::platform {
namespace {


TEST(DateTime, LocalToUTCFollowsDaylightSavingAndRefusesTheGap) {
  KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE();
  ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");  // US Eastern rules, no tzdata needed
  const auto at = [](int y, int mo, int d, int h, int mi) {
    return *TryEncodeDateTime({y, mo, d, h, mi, 0, 123});
  };
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", *LocalToUTC(at(2025, 1, 15, 12, 0))),
            "2025-01-15 17:00:00.123");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", *LocalToUTC(at(2025, 7, 15, 12, 0))),
            "2025-07-15 16:00:00.123");
  EXPECT_EQ(LocalToUTC(at(2025, 3, 9, 2, 30)), std::nullopt);  // clocks jump from 02:00 to 03:00
}

}  // namespace
}  // namespace kelvora::platform
