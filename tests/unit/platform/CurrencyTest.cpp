// The currency value's three rounding rules.
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

TEST(Currency, RoundHalfAwayFromZero) {
  EXPECT_EQ(RoundHalfAwayFromZero(0.5), 1);
  EXPECT_EQ(RoundHalfAwayFromZero(-0.5), -1);
  EXPECT_EQ(RoundHalfAwayFromZero(2.5), 3);
  EXPECT_EQ(RoundHalfAwayFromZero(2.4), 2);
}

}  // namespace
}  // namespace kelvora::platform
