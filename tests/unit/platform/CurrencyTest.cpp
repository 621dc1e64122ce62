// The currency value's rounding rules.
#include "platform/Currency.h"

#include <gtest/gtest.h>

namespace kelvora::platform {
namespace {

TEST(Currency, FromDoubleRoundsTiesToEven) {
  const std::pair<double, int64_t> cases[] = {
      {12.34, 123400}, {0.00025, 2}, {0.00035, 4}, {0.00075, 8}, {0.00045, 4}, {-0.00075, -8}, {1e-5, 0},
  };
  for (const auto& [value, raw] : cases) EXPECT_EQ(Currency::FromDouble(value).Raw(), raw) << value;
}

TEST(Currency, ToCentsRoundsTiesToEven) {
  const std::pair<int64_t, int64_t> cases[] = {
      {123450, 1234}, {123451, 1235}, {123550, 1236}, {150, 2}, {250, 2}, {251, 3}, {-150, -2}, {-250, -2}, {-251, -3},
  };
  for (const auto& [raw, cents] : cases) EXPECT_EQ(Currency::FromRaw(raw).ToCents(), cents) << raw;
}

TEST(Currency, TextHasTwoDecimalsAndAComma) {
  EXPECT_EQ(Currency::FromCents(0).ToText2(), "0,00");
  EXPECT_EQ(Currency::FromCents(123456).ToText2(), "1234,56");
  EXPECT_EQ(Currency::FromCents(-5).ToText2(), "-0,05");
}

// The text the library is charged and the cents that are recorded round alike.
TEST(Currency, TextAndRoundedCentsRoundHalfAwayFromZero) {
  struct Case {
    int64_t raw;
    int64_t cents;
    const char* text;
  };
  const Case cases[] = {
      {101250, 1013, "10,13"}, {101350, 1014, "10,14"}, {101249, 1012, "10,12"},
      {50, 1, "0,01"},         {49, 0, "0,00"},         {-101250, -1013, "-10,13"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Currency::FromRaw(c.raw).RoundedCents(), c.cents) << c.raw;
    EXPECT_EQ(Currency::FromRaw(c.raw).ToText2(), c.text) << c.raw;
  }
}

TEST(Currency, RoundHalfAwayFromZero) {
  EXPECT_EQ(RoundHalfAwayFromZero(0.5), 1);
  EXPECT_EQ(RoundHalfAwayFromZero(-0.5), -1);
  EXPECT_EQ(RoundHalfAwayFromZero(2.5), 3);
  EXPECT_EQ(RoundHalfAwayFromZero(2.4), 2);
}

}  // namespace
}  // namespace kelvora::platform
