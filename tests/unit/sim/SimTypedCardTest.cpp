// The typed-card mode: the card number, expiry date and security code are asked as fields in
// place of the card wait, and only the masked number comes back or stays in the ledger.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SimHarness.h"

namespace kelvora::sim::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kPending = 10000;

class SimTypedCard : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(lib.configure(), 0); }
  SimLibrary lib{"[dialog]\ntyped_card=1\n"};
};

// An expiry date in MMAA form, `years` years from now.
std::string expiryIn(int years) {
  const std::string yyyy = localNow("%Y");
  return localNow("%m") + std::to_string(std::stoi(yyyy) + years).substr(2);
}

TEST_F(SimTypedCard, AsksTheCardFieldsThenApprovesWithTheTypedNumberMasked) {
  ASSERT_EQ(lib.start(2, "12,34"), kPending);
  const Cmd number = lib.next();
  EXPECT_EQ(number.command, 30);
  EXPECT_EQ(number.field, 512);
  EXPECT_EQ(number.min, 13);
  EXPECT_EQ(number.max, 19);
  const Cmd expiry = lib.next("5555666677778884");
  EXPECT_EQ(expiry.command, 30);
  EXPECT_EQ(expiry.field, 513);
  EXPECT_EQ(expiry.min, 4);
  EXPECT_EQ(expiry.max, 4);
  const Cmd code = lib.next(expiryIn(2));
  EXPECT_EQ(code.command, 30);
  EXPECT_EQ(code.field, 514);
  EXPECT_EQ(code.min, 3);
  EXPECT_EQ(code.max, 4);

  const auto steps = lib.drain("123");
  ASSERT_EQ(steps.back().status, 0);
  EXPECT_EQ(fieldValue(steps, 2021), "555566******8884");
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr("555566******8884"));
  ASSERT_EQ(lib.finalize(1), 0);
  EXPECT_THAT(lib.ledgerText(), HasSubstr("APPROVED"));
  EXPECT_THAT(lib.ledgerText(), Not(HasSubstr("5555666677778884")));
}

// An answer the library cannot use is explained and the same field is asked again.
TEST_F(SimTypedCard, AnUnusableAnswerIsAskedAgain) {
  struct Case {
    std::vector<std::string> before;  // valid answers to the fields asked first
    int field;
    std::string bad;
  };
  const std::string good = "4111111111111111";
  const std::vector<Case> cases = {
      {{}, 512, "4111111111111112"},  // Luhn check digit wrong
      {{}, 512, "411111111111"},      // too short
      {{}, 512, "41111111111111111111"},
      {{}, 512, "4111 1111 1111 1111"},
      {{good}, 513, "1330"},  // no month 13
      {{good}, 513, expiryIn(-1)},
      {{good}, 513, "123"},
      {{good, expiryIn(1)}, 514, "12"},
      {{good, expiryIn(1)}, 514, "12a"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(lib.start(2, "12,34"), kPending);
    lib.next();
    for (const std::string& answer : c.before) lib.next(answer);
    const Cmd message = lib.next(c.bad);
    EXPECT_EQ(message.command, 3) << c.field << " " << c.bad;
    const Cmd again = lib.next();
    EXPECT_EQ(again.command, 30) << c.bad;
    EXPECT_EQ(again.field, c.field) << c.bad;
  }
}

TEST_F(SimTypedCard, CreditAsksTheCardAfterThePlan) {
  ASSERT_EQ(lib.start(3, "12,34"), kPending);
  lib.next();
  lib.next();
  EXPECT_EQ(lib.next("1").field, 512);
}

}  // namespace
}  // namespace kelvora::sim::test
