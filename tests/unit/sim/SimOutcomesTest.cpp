// How dialogues end, what stays pending, and what the ledger and the control file do about it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimHarness.h"

namespace kelvora::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

constexpr int kPending = 10000;

class SimOutcome : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(lib.configure(), 0); }

  // Runs a debit of `amount` under fiscal document `doc` to its end; returns the final status.
  int pay(const std::string& amount, const std::string& doc = "1234") {
    if (lib.start(2, amount, doc) != kPending) return -999;
    return lib.drain().back().status;
  }

  SimLibrary lib;
};

struct AbortCase {
  const char* name;
  int function;
  std::vector<std::string> answers;  // calls made before the abort
};

void PrintTo(const AbortCase& c, std::ostream* os) {
  *os << c.name;
}

class SimAbort : public SimOutcome, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(SimAbort, EndsWithMinusTwoAndLeavesNothingPending) {
  ASSERT_EQ(lib.start(GetParam().function), kPending);
  for (const auto& a : GetParam().answers) ASSERT_EQ(lib.next(a).status, kPending);
  EXPECT_EQ(lib.next("", -1).status, -2);
  EXPECT_EQ(lib.pending(), 0);
  EXPECT_EQ(lib.ledgerText(), "");
  EXPECT_EQ(lib.next().status, -12) << "the dialogue is over";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimAbort,
    ::testing::Values(AbortCase{"firstCall", 0, {}}, AbortCase{"atMenu", 0, {"", ""}},
                      AbortCase{"whileCardAwaited", 2, {"", "", ""}},
                      // After the authorizer approved but before the final status: the caller
                      // never learnt of the approval, so it must not stay pending.
                      AbortCase{"amidResultFields", 2, {"", "", "", "", "", "", ""}},
                      AbortCase{"whilePixAwaited", 0, {"", "", "3"}},
                      AbortCase{"atCancellationAmount", 200, {"", "01012024", "5"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(SimOutcome, GoingBackAsksThePreviousQuestionAgain) {
  ASSERT_EQ(lib.start(0), kPending);
  lib.next();
  lib.next();
  EXPECT_EQ(lib.next("2").command, 4);
  ASSERT_EQ(lib.next().command, 21);  // the credit plan menu
  const auto title = lib.next("", 1);
  EXPECT_EQ(title.data, "Selecione a forma de pagamento");
  EXPECT_EQ(lib.next().data, "1:Debito;2:Credito;3:Pix;");
  // At the first question there is nothing before it: the same question comes again.
  EXPECT_EQ(lib.next("", 1).command, 4);
  EXPECT_EQ(lib.next().data, "1:Debito;2:Credito;3:Pix;");
  EXPECT_EQ(lib.next("1").command, 1);
}

TEST_F(SimOutcome, GoingBackAfterAMessageOnlyGoesOn) {
  ASSERT_EQ(lib.start(2), kPending);
  EXPECT_EQ(lib.next().command, 1);
  EXPECT_EQ(lib.next("", 1).command, 2);
}

TEST_F(SimOutcome, AmountsEndingIn51AreRefusedByTheAuthorizer) {
  ASSERT_EQ(lib.start(2, "12,51"), kPending);
  const auto steps = lib.drain();
  ASSERT_GE(steps.size(), 2u);
  EXPECT_EQ(steps[steps.size() - 2].command, 3);
  EXPECT_THAT(steps[steps.size() - 2].data, HasSubstr("51"));
  EXPECT_EQ(steps.back().status, 51);
  EXPECT_TRUE(resultFields(steps).empty());
  EXPECT_EQ(lib.pending(), 0);
  EXPECT_THAT(lib.ledgerLines(),
              ElementsAre(MatchesRegex("REFUSED doc=1234 date=[0-9]{8} function=2 value=12,51 "
                                       "nsu=[0-9]{6} modality=0100 code=51 at=[0-9]{14}")));

  // The cents decide, not the reais; and a cancellation amount is judged the same way.
  ASSERT_EQ(lib.start(200, "0,00"), kPending);
  lib.next();
  lib.next("01012024");
  lib.next("7");
  EXPECT_EQ(lib.drain("3,51").back().status, 51);
  EXPECT_EQ(pay("51,00"), 0);
}

TEST_F(SimOutcome, ApprovalStaysPendingUntilItsDocumentAndDateAreFinalised) {
  ASSERT_EQ(pay("10,00", "100"), 0);
  ASSERT_EQ(pay("20,00", "100"), 0);
  ASSERT_EQ(pay("30,00", "200"), 0);
  EXPECT_EQ(lib.pending(today(), "100"), 2);
  EXPECT_EQ(lib.pending(today(), "200"), 1);
  EXPECT_EQ(lib.pending(today(), ""), 3) << "an empty document counts the whole day";
  EXPECT_EQ(lib.pending("20000101", "100"), 0);

  // Another date settles nothing, yet the call is recorded.
  ASSERT_EQ(lib.finalize(1, "100", "20000101"), 0);
  EXPECT_EQ(lib.pending(today(), "100"), 2);

  ASSERT_EQ(lib.finalize(1, "100"), 0);
  EXPECT_EQ(lib.pending(today(), "100"), 0);
  EXPECT_EQ(lib.pending(today(), "200"), 1);
  ASSERT_EQ(lib.finalize(0, "200"), 0);
  EXPECT_EQ(lib.pending(today(), ""), 0);
  ASSERT_EQ(lib.finalize(1, "200"), 0) << "finalising twice is harmless";

  const auto ledger = lib.ledgerLines();
  ASSERT_EQ(ledger.size(), 7u);
  EXPECT_THAT(ledger[0], MatchesRegex("APPROVED doc=100 date=[0-9]{8} function=2 value=10,00 "
                                      "nsu=([0-9]{6}) modality=0100 at=[0-9]{14}"));
  EXPECT_THAT(ledger[3], MatchesRegex("CONFIRMED doc=100 date=20000101 count=0 at=[0-9]{14}"));
  EXPECT_THAT(ledger[4], MatchesRegex("CONFIRMED doc=100 date=[0-9]{8} count=2 "
                                      "nsu=[0-9]{6},[0-9]{6} at=[0-9]{14}"));
  EXPECT_THAT(ledger[5], MatchesRegex("UNDONE doc=200 date=[0-9]{8} count=1 nsu=[0-9]{6} at=.*"));
  EXPECT_THAT(ledger[6], HasSubstr("CONFIRMED doc=200 date=" + today() + " count=0 at="));
}

TEST_F(SimOutcome, NsuIncreasesWithEveryTransaction) {
  std::vector<std::string> nsus;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(lib.start(2), kPending);
    nsus.push_back(fieldValue(lib.drain(), 133));
  }
  EXPECT_THAT(nsus, ElementsAre("000001", "000002", "000003"));
}

// A process that dies with a payment approved and not finalised: this process's copy of the
// library, which never saw that payment, finds it pending in the ledger and goes on with the NSUs.
TEST_F(SimOutcome, AnApprovalSurvivesACrashOfTheProcess) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(pay("20,00", "2") == 0 && pay("5,00", "2") == 0 ? 0 : 1);  // no cleanup
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(lib.pending(today(), "2"), 2);
  ASSERT_EQ(lib.start(2, "30,00", "3"), kPending);
  EXPECT_EQ(fieldValue(lib.drain(), 133), "000003");
  ASSERT_EQ(lib.finalize(1, "2"), 0);
  EXPECT_EQ(lib.pending(today(), "2"), 0);
}

TEST_F(SimOutcome, ALineCutShortByACrashNeitherCountsNorSpoilsTheNextOne) {
  std::ofstream(lib.dir() / "CliSiTefSim.ledger", std::ios::app)
      << "APPROVED doc=1234 date=" << today() << " function=2 value=1,00 nsu=000009";
  EXPECT_EQ(lib.pending(), 0);
  ASSERT_EQ(pay("10,00"), 0);
  EXPECT_EQ(lib.pending(), 1);
  EXPECT_THAT(lib.ledgerLines(), ElementsAre(MatchesRegex("APPROVED doc=1234 .* value=10,00 .*")));
}

// What another hand may do to the ledger between two calls; the library must answer from the file
// as it now stands, not from what it read before.
struct LedgerChangeCase {
  const char* name;
  void (*change)(const std::filesystem::path& ledger, const std::string& replacement);
  int pendingOfOne;   // approvals of document 1 pending afterwards
  int pendingOfNine;  // approvals of document 9 pending afterwards
};

void PrintTo(const LedgerChangeCase& c, std::ostream* os) {
  *os << c.name;
}

class SimLedgerChange : public SimOutcome,
                        public ::testing::WithParamInterface<LedgerChangeCase> {};

TEST_P(SimLedgerChange, IsSeenAtTheNextCall) {
  ASSERT_EQ(pay("10,00", "1"), 0);
  ASSERT_EQ(lib.pending(today(), "1"), 1);
  // Longer than what the library has read, so that only its content tells it apart.
  std::string replacement;
  for (const char* nsu : {"000050", "000051"}) {
    replacement += "APPROVED doc=9 date=" + today() + " function=2 value=1,00 nsu=" + nsu +
                   " modality=0100 at=20250105133000\n";
  }
  GetParam().change(lib.dir() / "CliSiTefSim.ledger", replacement);
  EXPECT_EQ(lib.pending(today(), "1"), GetParam().pendingOfOne);
  EXPECT_EQ(lib.pending(today(), "9"), GetParam().pendingOfNine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimLedgerChange,
    ::testing::Values(
        LedgerChangeCase{"deleted", [](const auto& f, const auto&) { std::filesystem::remove(f); },
                         0, 0},
        LedgerChangeCase{"emptied",
                         [](const auto& f, const auto&) { std::filesystem::resize_file(f, 0); }, 0,
                         0},
        // The same file (same inode) given other, longer content.
        LedgerChangeCase{"rewrittenInPlace",
                         [](const auto& f, const auto& text) {
                           std::ofstream(f, std::ios::binary | std::ios::trunc) << text;
                         },
                         0, 2},
        LedgerChangeCase{"replacedByAnother",
                         [](const auto& f, const auto& text) {
                           const auto other = f.parent_path() / "other";
                           std::ofstream(other, std::ios::binary) << text;
                           std::filesystem::rename(other, f);
                         },
                         0, 2},
        LedgerChangeCase{"appendedByAnotherHand",
                         [](const auto& f, const auto& text) {
                           std::ofstream(f, std::ios::binary | std::ios::app) << text;
                         },
                         1, 2}),
    [](const auto& info) { return info.param.name; });

TEST_F(SimOutcome, NsusGoOnFromARewrittenLedger) {
  ASSERT_EQ(pay("10,00", "1"), 0);
  std::ofstream(lib.dir() / "CliSiTefSim.ledger", std::ios::binary | std::ios::trunc)
      << "APPROVED doc=9 date=" << today()
      << " function=2 value=1,00 nsu=000050 modality=0100 at=20250105133000\n";
  ASSERT_EQ(lib.start(2, "30,00", "3"), kPending);
  EXPECT_EQ(fieldValue(lib.drain(), 133), "000051");
}

TEST_F(SimOutcome, AnApprovalThatCannotBeRecordedIsNotReported) {
  std::filesystem::create_directory(lib.dir() / "CliSiTefSim.ledger");
  ASSERT_EQ(lib.start(2), kPending);
  EXPECT_EQ(lib.drain().back().status, -100);
  EXPECT_EQ(lib.finalize(1), -100);
}

TEST_F(SimOutcome, LedgerValuesCannotBreakALine) {
  ASSERT_EQ(pay("10,00", "A B\n%"), 0);
  const auto ledger = lib.ledgerLines();
  ASSERT_EQ(ledger.size(), 1u);
  EXPECT_THAT(ledger[0], HasSubstr("doc=A%20B%0A%25 "));
  EXPECT_EQ(lib.pending(today(), "A B\n%"), 1);
  ASSERT_EQ(lib.finalize(1, "A B\n%"), 0);
  EXPECT_EQ(lib.pending(today(), "A B\n%"), 0);
}

TEST_F(SimOutcome, ANewStartAbandonsAnUnfinishedDialogue) {
  ASSERT_EQ(lib.start(2, "10,00", "1"), kPending);
  for (int i = 0; i < 8; ++i) lib.next();  // into the result fields
  ASSERT_EQ(lib.start(2, "20,00", "2"), kPending);
  EXPECT_EQ(lib.drain().back().status, 0);
  EXPECT_EQ(lib.pending(today(), "1"), 0);
  EXPECT_EQ(lib.pending(today(), "2"), 1);
}

TEST_F(SimOutcome, ContinueWithoutADialogueOrWithBadArgumentsFails) {
  EXPECT_EQ(lib.next().status, -12);
  ASSERT_EQ(lib.start(2), kPending);
  int command = 0, field = 0;
  short min = 0, max = 0;
  EXPECT_EQ(lib.continua(&command, &field, &min, &max, nullptr, 16, 0), -20);
  EXPECT_EQ(lib.next().status, -12) << "a call with bad arguments ends the dialogue";
}

// The service may ask for the pin-pad from one connection while another runs a payment.
TEST_F(SimOutcome, CallsFromSeveralThreadsAreSerialised) {
  std::atomic<bool> done{false};
  std::thread prober([&] {
    while (!done) {
      EXPECT_EQ(lib.pinpad(), 1);
      EXPECT_GE(lib.pending(), 0);
    }
  });
  for (int i = 0; i < 20; ++i) EXPECT_EQ(pay("10,00"), 0);
  done = true;
  prober.join();
  EXPECT_EQ(lib.pending(), 20);
}

TEST(SimControl, PollCountsComeFromTheControlFile) {
  SimLibrary lib("[dialog]\ncard_polls=0\n");
  ASSERT_EQ(lib.configure(), 0);
  ASSERT_EQ(lib.start(2), kPending);
  const auto steps = lib.drain();
  EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const Cmd& c) { return c.command == 23; }),
            0);

  // Read again at every start; a value that is not a count leaves the default.
  lib.writeIni("[dialog]\ncard_polls=-4\n");
  ASSERT_EQ(lib.start(2), kPending);
  const auto again = lib.drain();
  EXPECT_EQ(std::count_if(again.begin(), again.end(), [](const Cmd& c) { return c.command == 23; }),
            3);
}

TEST(SimControl, DelaysSlowContinueAndFinalise) {
  SimLibrary lib("[delay]\ncontinue_ms=120\nfinalize_ms=150\n");
  ASSERT_EQ(lib.configure(), 0);
  ASSERT_EQ(lib.start(2), kPending);
  using std::chrono::steady_clock;
  auto t0 = steady_clock::now();
  lib.next();
  EXPECT_GE(steady_clock::now() - t0, std::chrono::milliseconds(120));
  t0 = steady_clock::now();
  lib.finalize(1);
  EXPECT_GE(steady_clock::now() - t0, std::chrono::milliseconds(150));
}

}  // namespace
}  // namespace kelvora::sim::test
