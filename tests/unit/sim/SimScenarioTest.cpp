// Scenario files played by the simulated library: what they hand out, how answers are checked, and
// the files it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "SimHarness.h"

namespace kelvora::sim::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int kPending = 10000;

class SimScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    lib.writeIni("[dialog]\nscenario=s.scenario\n");
    ASSERT_EQ(lib.configure(), 0);
  }

  void write(const std::string& text) const {
    std::ofstream(lib.dir() / "s.scenario", std::ios::binary) << text;
  }

  SimLibrary lib;
};

TEST_F(SimScenario, HandsOutEveryStatementInWindows1252AndRecordsTheApproval) {
  write(
      "\xEF\xBB\xBF# a comment\r\n"
      "\r\n"
      "command 30 max=19 field=512 min=13 \"Cart\xC3\xA3o\\n\\x80 \\\"x\\\" \\\\\"\r\n"
      "  expect \"4111\"\n"
      "command 23\n"
      "result 121 \"VIA\\tCLIENTE\"\n"
      "final 0\n");
  // Any function code and no amount: a dialogue seen in the field may use either.
  ASSERT_EQ(lib.start(122, "0,00"), kPending);
  const Cmd field = lib.next();
  EXPECT_EQ(field.status, kPending);
  EXPECT_EQ(field.command, 30);
  EXPECT_EQ(field.field, 512);
  EXPECT_EQ(field.min, 13);
  EXPECT_EQ(field.max, 19);
  EXPECT_EQ(field.data, "Cart\xE3o\n\x80 \"x\" \\");
  const Cmd wait = lib.next("4111");
  EXPECT_EQ(wait.command, 23);
  EXPECT_EQ(wait.field, -1);
  EXPECT_EQ(wait.data, "");
  const Cmd result = lib.next("");
  EXPECT_EQ(result.command, 0);
  EXPECT_EQ(result.field, 121);
  EXPECT_EQ(result.data, "VIA\tCLIENTE");
  EXPECT_EQ(lib.next().status, 0);
  EXPECT_EQ(lib.pending(), 1);
  ASSERT_EQ(lib.ledgerLines().size(), 1u);
  EXPECT_THAT(lib.ledgerLines()[0], StartsWith("APPROVED doc=1234 date=" + today() +
                                               " function=122 value=0,00 nsu=000001 "
                                               "scenario=s.scenario at="));
}

TEST_F(SimScenario, AReprintOrATestIsNoTransaction) {
  write("final 0\n");
  for (const int function : {110, 111, 112, 113, 114}) {
    ASSERT_EQ(lib.start(function), kPending);
    EXPECT_EQ(lib.next().status, 0);
  }
  EXPECT_EQ(lib.ledgerText(), "");
}

struct AnswerCase {
  const char* name;
  const char* expect;  // the expect line, empty for none
  std::string answer;
  int proceed;
  bool accepted;
  const char* reported;  // what the MISMATCH line says was got
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
  *os << c.name;
}

class SimScenarioAnswer : public SimScenario, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(SimScenarioAnswer, IsCheckedAgainstTheExpectation) {
  const AnswerCase& c = GetParam();
  write(std::string("command 30 field=513 \"Vencimento\"\n") + c.expect + "\nfinal 5\n");
  ASSERT_EQ(lib.start(2), kPending);
  ASSERT_EQ(lib.next().status, kPending);
  const int status = lib.next(c.answer, c.proceed).status;
  if (c.accepted) {
    EXPECT_EQ(status, 5);
    EXPECT_EQ(lib.ledgerText(), "");
    return;
  }
  EXPECT_EQ(status, -101);
  ASSERT_EQ(lib.ledgerLines().size(), 1u);
  EXPECT_THAT(lib.ledgerLines()[0],
              StartsWith(std::string("MISMATCH scenario=s.scenario line=1 command=30 field=513 "
                                     "expected=") +
                         c.reported));
  EXPECT_EQ(lib.next().status, -12) << "the dialogue is over";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimScenarioAnswer,
    ::testing::Values(
        AnswerCase{"noExpectationTakesAnything", "", "x", -1, true, ""},
        AnswerCase{"anyTakesAnything", "expect any", "x", 1, true, ""},
        AnswerCase{"textMatches", "expect \"1225\"", "1225", 0, true, ""},
        AnswerCase{"backMatches", "expect back", "", 1, true, ""},
        AnswerCase{"abortMatches", "expect abort", "", -1, true, ""},
        // The answer to a card-data field is never repeated, not even in the ledger.
        AnswerCase{"otherText", "expect \"1225\"", "1226", 0, false, "\"1225\" got=\"****\""},
        AnswerCase{"backForText", "expect \"1225\"", "1225", 1, false, "\"1225\" got=back"},
        AnswerCase{"textForAbort", "expect abort", "", 0, false, "abort got=\"\""},
        AnswerCase{"abortForBack", "expect back", "", -1, false, "back got=abort"}));

struct BadCase {
  const char* name;
  std::string text;
  int line;
  const char* reason;
};

void PrintTo(const BadCase& c, std::ostream* os) {
  *os << c.name;
}

class SimScenarioRefused : public SimScenario, public ::testing::WithParamInterface<BadCase> {};

TEST_P(SimScenarioRefused, RefusesTheStartNamingTheLine) {
  const BadCase& c = GetParam();
  write(c.text);
  EXPECT_EQ(lib.start(2), -100);
  ASSERT_EQ(lib.ledgerLines().size(), 1u);
  const std::string line = lib.ledgerLines()[0];
  EXPECT_THAT(line, StartsWith("BADSCENARIO scenario=s.scenario line=" + std::to_string(c.line) +
                               " reason="));
  EXPECT_THAT(line, HasSubstr(c.reason));
  EXPECT_EQ(lib.next().status, -12) << "no dialogue was started";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimScenarioRefused,
    ::testing::Values(
        BadCase{"noFinal", "command 1 \"x\"\n", 0, "sem%20a%20linha%20final"},
        BadCase{"afterFinal", "final 0\ncommand 1\n", 2, "depois%20de%20final"},
        BadCase{"pendingIsNoFinal", "final 10000\n", 1, "10000"},
        BadCase{"unknownWord", "comand 1\nfinal 0\n", 1, "palavra%20desconhecida"},
        BadCase{"unknownOption", "command 1 size=3\nfinal 0\n", 1, "desconhecida:%20size"},
        BadCase{"repeatedOption", "command 1 min=1 min=2\nfinal 0\n", 1, "repetida"},
        BadCase{"notANumber", "command 1x\nfinal 0\n", 1, "n%C3%BAmero"},
        BadCase{"sizeOutOfRange", "command 30 max=40000\nfinal 0\n", 1, "40000"},
        BadCase{"codeOutOfRange", "command 99999999999\nfinal 0\n", 1, "99999999999"},
        BadCase{"expectFirst", "expect any\nfinal 0\n", 1, "expect"},
        BadCase{"twoExpects", "command 1\nexpect any\nexpect back\nfinal 0\n", 3, "expect"},
        BadCase{"expectWhat", "command 1\nexpect maybe\nfinal 0\n", 2, "expect"},
        BadCase{"resultWithoutValue", "result 121\nfinal 0\n", 1, "aspas"},
        BadCase{"unclosedText", "command 1 \"abc\nfinal 0\n", 1, "fechamento"},
        BadCase{"unknownEscape", "command 1 \"a\\qb\"\nfinal 0\n", 1, "escape"},
        BadCase{"shortHex", "command 1 \"\\x4\"\nfinal 0\n", 1, "hexadecimais"},
        BadCase{"nulByte", "command 1 \"\\x00\"\nfinal 0\n", 1, "Windows-1252"},
        BadCase{"undefinedByte", "command 1 \"\\x81\"\nfinal 0\n", 1, "Windows-1252"},
        BadCase{"notInCodePage", "command 1 \"\xE2\x82\xBF\"\nfinal 0\n", 1, "Windows-1252"},
        BadCase{"malformedUtf8", "command 1 \"\xC3\"\nfinal 0\n", 1, "UTF-8"},
        BadCase{"controlCharacter", "command 1 \"a\x01\"\nfinal 0\n", 1, "controle"},
        BadCase{"trailingText", "command 1 \"a\" b\nfinal 0\n", 1, "sobra"},
        BadCase{"glued", "command 1 \"a\"b\nfinal 0\n", 1, "sem%20espa%C3%A7o"},
        BadCase{"tooLong", "command 1 \"" + std::string(20001, 'a') + "\"\nfinal 0\n", 1, "20000"},
        BadCase{"empty", "", 0, "final"}));

TEST_F(SimScenario, AMissingFileIsRefused) {
  lib.writeIni("[dialog]\nscenario=" + (lib.dir() / "nowhere.scenario").string() + "\n");
  EXPECT_EQ(lib.start(2), -100);
  EXPECT_THAT(
      lib.ledgerText(),
      HasSubstr("BADSCENARIO scenario=" + (lib.dir() / "nowhere.scenario").string() + " line=0"));
}

TEST_F(SimScenario, ATextOfTwentyThousandBytesFitsTheBuffer) {
  write("command 1 \"" + std::string(20000, 'a') + "\"\nfinal 0\n");
  ASSERT_EQ(lib.start(2), kPending);
  EXPECT_EQ(lib.next().data.size(), 20000u);
}

}  // namespace
}  // namespace kelvora::sim::test
