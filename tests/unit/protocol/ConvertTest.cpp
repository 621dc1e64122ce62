// Text-to-number conversions: what each accepts and the error texts for what it refuses.
#include "protocol/Convert.h"

#include <string>

#include <gtest/gtest.h>

namespace kelvora::protocol {
namespace {

TEST(StrToInt, ReadsDecimalAndHexadecimal) {
  const std::pair<std::string, int32_t> cases[] = {
      {"0", 0},
      {"42", 42},
      {"-42", -42},
      {"+7", 7},
      {"   12", 12},
      {"00012", 12},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$1F", 31},
      {"-$1f", -31},
      {"0x7fffffff", 2147483647},
      {"0X10", 16},
      {"$00000000000A", 10},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(StrToInt(text), value) << text;
}

TEST(StrToInt, RefusesWithTheConventionalMessage) {
  const std::string cases[] = {
      "",
      " ",
      "abc",
      "12 ",
      "\t5",
      "1,5",
      "1.0",
      "2147483648",
      "-2147483649",
      "$80000000",
      "99999999999999999999",
      "$",
      "0x",
      "$G",
      "--1",
      "+",
      "- 1",
      "1e3",
  };
  for (const auto& text : cases) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + text + "' is not a valid integer value");
    }
  }
}

TEST(StrToFloat, ReadsThePtBrForm) {
  const std::pair<std::string, double> cases[] = {
      {"12,5", 12.5}, {"-0,75", -0.75},     {"+3", 3},
      {"  10  ", 10}, {",5", 0.5},          {"5,", 5},
      {"1E3", 1000},  {"2,5e-2", 0.025},    {"1e+2", 100},
      {"0", 0},       {"1234,56", 1234.56},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(StrToFloat(text), value) << text;
}

TEST(StrToFloat, RefusesWithTheConventionalMessage) {
  const std::string cases[] = {
      "",  " ",   "12.5", "1.234,56", "abc",  "1E",  "1E+",   ",",
      "-", "INF", "NAN",  "1E400",    "1,5x", "1 5", "1,2,3", "0x10",
  };
  for (const auto& text : cases) {
    try {
      StrToFloat(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + text + "' is not a valid floating point value");
    }
  }
}

// An amount the TEF component could not carry unchanged is refused as no number at all, before any
// conversion could overflow.
TEST(StrToCurrency, KeepsFourDecimalsAndRefusesNegativeAndHugeAmounts) {
  const struct {
    std::string_view text;
    int64_t raw;  // -1: refused
  } cases[] = {
      {"10,50", 105000},
      {"0", 0},
      {"-0", 0},
      {"12,3456", 123456},
      {"900719925474,0992", 9007199254740992},
      {"900719925474,1", -1},
      {"1E15", -1},
      {"1E300", -1},
      {"-0,01", -1},
      {"-1E300", -1},
      {"1E400", -1},
      {"NAN", -1},
  };
  for (const auto& c : cases) {
    if (c.raw >= 0) {
      EXPECT_EQ(StrToCurrency(c.text).Raw(), c.raw) << c.text;
      continue;
    }
    try {
      StrToCurrency(c.text);
      ADD_FAILURE() << "accepted '" << c.text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(c.text) + "' is not a valid floating point value");
    }
  }
}

}  // namespace
}  // namespace kelvora::protocol
