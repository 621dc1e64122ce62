// The simulated library's contract checks: calls outside the contract are refused with the
// library's error and noted as CONTRACT lines; dialogues given up are noted as ABANDONED.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "SimHarness.h"

namespace kelvora::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

constexpr int kPending = 10000;

using Lib = const SimLibrary&;

char* s(const char* text) {
  return const_cast<char*>(text);
}

int startWith(const SimLibrary& lib, const char* amount, const char* doc, const char* date,
              const char* time, const char* restrictions, int function = 2) {
  return lib.inicia(function, s(amount), s(doc), s(date), s(time), s("OPERADOR"), s(restrictions));
}

int configureWith(const SimLibrary& lib, int reserved, const char* parameters,
                  const char* server = "127.0.0.1") {
  return lib.configura(s(server), s("00000000"), s("SE000001"), reserved, s(parameters));
}

// One loop call on a running debit, with every argument but one as the loop passes it.
int continueWith(const SimLibrary& lib, int bufferSize, int proceed, bool terminated = true) {
  std::vector<char> buffer(20001, 'x');
  if (terminated) buffer[0] = '\0';
  int command = 0, field = 0;
  short min = 0, max = 0;
  return lib.continua(&command, &field, &min, &max, buffer.data(), bufferSize, proceed);
}

struct ViolationCase {
  const char* name;
  bool configured;  // whether the library is configured (and a debit started) first
  std::function<int(const SimLibrary&)> call;
  int expected;
  const char* line;  // the start of the CONTRACT line, up to the value
};

void PrintTo(const ViolationCase& c, std::ostream* os) {
  *os << c.name;
}

class SimContractViolation : public ::testing::TestWithParam<ViolationCase> {};

TEST_P(SimContractViolation, IsRefusedAndNotedInTheLedgerAndOnStandardError) {
  const auto& c = GetParam();
  SimLibrary lib;
  if (c.configured) {
    ASSERT_EQ(lib.configure(), 0);
    ASSERT_EQ(lib.start(2), kPending);
  }
  ::testing::internal::CaptureStderr();
  const int result = c.call(lib);
  const std::string stderrText = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, c.expected);
  std::vector<std::string> contract;
  for (const auto& line : lib.ledgerLines()) {
    if (line.starts_with("CONTRACT ")) contract.push_back(line);
  }
  EXPECT_THAT(contract,
              ElementsAre(MatchesRegex(std::string(c.line) + ".* problem=[^ ]+ at=[0-9]{14}")));
  EXPECT_THAT(stderrText, HasSubstr("CliSiTefSim CONTRACT "));
}

const char* const kToday = "20250105";

INSTANTIATE_TEST_SUITE_P(
    Cases, SimContractViolation,
    ::testing::Values(
        // Call order: configuration first, the loop only inside a dialogue.
        ViolationCase{"startBeforeConfiguration", false, [](Lib l) { return l.start(2); }, -1,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument="},
        ViolationCase{"continueBeforeConfiguration", false, [](Lib l) { return l.next().status; },
                      -1, "CONTRACT function=ContinuaFuncaoSiTefInterativo argument="},
        ViolationCase{"finalizeBeforeConfiguration", false, [](Lib l) { return l.finalize(1); }, -1,
                      "CONTRACT function=FinalizaTransacaoSiTefInterativo argument="},
        ViolationCase{"pendingBeforeConfiguration", false, [](Lib l) { return l.pending(); }, -1,
                      "CONTRACT function=ObtemQuantidadeTransacoesPendentes argument="},
        ViolationCase{"pinpadBeforeConfiguration", false, [](Lib l) { return l.pinpad(); }, -1,
                      "CONTRACT function=VerificaPresencaPinPad argument="},
        ViolationCase{"continueAfterTheFinalStatus", true,
                      [](Lib l) {
                        l.drain();
                        return l.next().status;
                      },
                      -12, "CONTRACT function=ContinuaFuncaoSiTefInterativo argument="},
        // Configuration.
        ViolationCase{"reservedNotZero", true,
                      [](Lib l) { return configureWith(l, 1, "[];{ValorIncluiTaxa=0;};"); }, 11,
                      "CONTRACT function=ConfiguraIntSiTefInterativoEx argument=reserved value=1"},
        ViolationCase{"parametersNotInBrackets", true,
                      [](Lib l) { return configureWith(l, 0, "A=1;B=2"); }, 11,
                      "CONTRACT function=ConfiguraIntSiTefInterativoEx "
                      "argument=additionalParameters value=A=1;B=2"},
        ViolationCase{
            "parametersWithALineBreak", true,
            [](Lib l) { return configureWith(l, 0, "[A=1\r\nB=2];{ValorIncluiTaxa=0;};"); }, 11,
            "CONTRACT function=ConfiguraIntSiTefInterativoEx "
            "argument=additionalParameters value=\\[A=1%0D%0AB=2\\]"},
        ViolationCase{"parametersWithoutTheFeeBlock", true,
                      [](Lib l) { return configureWith(l, 0, "[A=1];"); }, 11,
                      "CONTRACT function=ConfiguraIntSiTefInterativoEx "
                      "argument=additionalParameters"},
        ViolationCase{"nullServer", true,
                      [](Lib l) {
                        return l.configura(nullptr, s("1"), s("SE000001"), 0,
                                           s("[];{ValorIncluiTaxa=0;};"));
                      },
                      11,
                      "CONTRACT function=ConfiguraIntSiTefInterativoEx argument=serverAddress "
                      "value=\\(nulo\\)"},
        // Starting a dialogue.
        ViolationCase{"amountWithAPoint", true,
                      [](Lib l) { return startWith(l, "12.50", "1", kToday, "101010", ""); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=amount "
                      "value=12.50"},
        ViolationCase{"amountWithOneDecimal", true,
                      [](Lib l) { return startWith(l, "12,5", "1", kToday, "101010", ""); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=amount"},
        ViolationCase{"amountWithThousands", true,
                      [](Lib l) { return startWith(l, "1.234,50", "1", kToday, "101010", ""); },
                      -20, "CONTRACT function=IniciaFuncaoSiTefInterativo argument=amount"},
        ViolationCase{"negativeAmount", true,
                      [](Lib l) { return startWith(l, "-5,00", "1", kToday, "101010", ""); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=amount"},
        ViolationCase{"emptyDocument", true,
                      [](Lib l) { return startWith(l, "12,34", "", kToday, "101010", ""); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=fiscalDocument"},
        ViolationCase{"noSuchDate", true,
                      [](Lib l) { return startWith(l, "12,34", "1", "20230229", "101010", ""); },
                      -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=fiscalDate "
                      "value=20230229"},
        ViolationCase{"dateDayFirst", true,
                      [](Lib l) { return startWith(l, "12,34", "1", "05012025", "101010", ""); },
                      -20, "CONTRACT function=IniciaFuncaoSiTefInterativo argument=fiscalDate"},
        ViolationCase{"noSuchTime", true,
                      [](Lib l) { return startWith(l, "12,34", "1", kToday, "240000", ""); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=fiscalTime"},
        ViolationCase{"shortTime", true,
                      [](Lib l) { return startWith(l, "12,34", "1", kToday, "1010", ""); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=fiscalTime"},
        ViolationCase{"restrictionsWithoutBrackets", true,
                      [](Lib l) { return startWith(l, "12,34", "1", kToday, "101010", "10"); }, -20,
                      "CONTRACT function=IniciaFuncaoSiTefInterativo argument=restrictions"},
        ViolationCase{"restrictionsUnclosed", true,
                      [](Lib l) { return startWith(l, "12,34", "1", kToday, "101010", "[10;"); },
                      -20, "CONTRACT function=IniciaFuncaoSiTefInterativo argument=restrictions"},
        // The loop.
        ViolationCase{"bufferSmallerThanTheLoops", true,
                      [](Lib l) { return continueWith(l, 8, 0); }, -20,
                      "CONTRACT function=ContinuaFuncaoSiTefInterativo argument=bufferSize "
                      "value=8"},
        ViolationCase{"bufferWithoutNul", true,
                      [](Lib l) { return continueWith(l, 20001, 0, false); }, -20,
                      "CONTRACT function=ContinuaFuncaoSiTefInterativo argument=buffer"},
        ViolationCase{"continueFlagTwo", true, [](Lib l) { return continueWith(l, 20001, 2); }, -20,
                      "CONTRACT function=ContinuaFuncaoSiTefInterativo argument=proceed value=2"},
        ViolationCase{"nullCommand", true,
                      [](Lib l) {
                        char buffer[20001] = {};
                        int field = 0;
                        short min = 0, max = 0;
                        return l.continua(nullptr, &field, &min, &max, buffer, 20001, 0);
                      },
                      -20, "CONTRACT function=ContinuaFuncaoSiTefInterativo argument=command"},
        // Finalisation and the other services.
        ViolationCase{"finalizeFlagTwo", true,
                      [](Lib l) { return l.finaliza(2, s("1"), s(kToday), s("101500")); }, -20,
                      "CONTRACT function=FinalizaTransacaoSiTefInterativo argument=confirm "
                      "value=2"},
        ViolationCase{"finalizeBadDate", true,
                      [](Lib l) { return l.finaliza(1, s("1"), s("2025015"), s("101500")); }, -20,
                      "CONTRACT function=FinalizaTransacaoSiTefInterativo argument=fiscalDate"},
        ViolationCase{"finalizeBadTime", true,
                      [](Lib l) { return l.finaliza(1, s("1"), s(kToday), s("1015")); }, -20,
                      "CONTRACT function=FinalizaTransacaoSiTefInterativo argument=fiscalTime"},
        ViolationCase{"pendingWithoutDate", true, [](Lib l) { return l.pendentes(s(""), s("1")); },
                      -20,
                      "CONTRACT function=ObtemQuantidadeTransacoesPendentes argument=fiscalDate"},
        ViolationCase{"permanentMessageNull", true, [](Lib l) { return l.mensagem(nullptr); }, -20,
                      "CONTRACT function=EscreveMensagemPermanentePinPad argument=message"},
        ViolationCase{
            "secureReadingIsNeverCalled", true,
            [](Lib l) { return l.symbol<decltype(LeCartaoSeguro)>("LeCartaoSeguro")(s("")); }, -20,
            "CONTRACT function=LeCartaoSeguro argument="}),
    [](const auto& info) { return info.param.name; });

TEST(SimContract, ARefusedLoopCallEndsTheDialogue) {
  SimLibrary lib;
  ASSERT_EQ(lib.configure(), 0);
  ASSERT_EQ(lib.start(2), kPending);
  ASSERT_EQ(lib.next("", 5).status, -20);
  EXPECT_EQ(lib.next().status, -12);
  EXPECT_EQ(lib.pending(), 0);
}

TEST(SimContract, EveryFormTheAutomationBuildsIsAccepted) {
  SimLibrary lib;
  for (const char* parameters :
       {"[];{ValorIncluiTaxa=0;};", "[A=1;B=2];{ValorIncluiTaxa=0;};",
        "[[ParmsClient=1];];{ValorIncluiTaxa=0;};",
        "[];{ValorIncluiTaxa=0;};[ParmsClient=1=12345678000190;2=98765432000110];"}) {
    EXPECT_EQ(configureWith(lib, 0, parameters), 0) << parameters;
  }
  for (const char* restrictions :
       {"", "[10];", "[15;25]", "{DevolveStringQRCode=1}", "[10];{DevolveStringQRCode=1}"}) {
    EXPECT_EQ(startWith(lib, "12,34", "1", "20240229", "235959", restrictions), kPending)
        << restrictions;
  }
  for (const char* amount : {"0,00", "1234567,89"}) {
    EXPECT_EQ(startWith(lib, amount, "1", "20250105", "000000", "", 111), kPending) << amount;
  }
  EXPECT_EQ(lib.drain().back().status, 0);
  EXPECT_EQ(lib.finaliza(0, s("1"), s("20250105"), s("101500")), 0);
  EXPECT_THAT(lib.ledgerText(), ::testing::Not(HasSubstr("CONTRACT")));
}

class SimAbandon : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(lib.configure(), 0); }
  SimLibrary lib;
};

TEST_F(SimAbandon, ANewStartNotesTheDialogueItGivesUp) {
  ASSERT_EQ(lib.start(2, "10,00", "1"), kPending);
  lib.next();
  ASSERT_EQ(lib.start(2, "20,00", "2"), kPending);
  EXPECT_EQ(lib.drain().back().status, 0);
  EXPECT_THAT(lib.ledgerLines(), ElementsAre(MatchesRegex("ABANDONED doc=1 date=" + today() +
                                                          " function=2 approved=0 at=[0-9]{14}"),
                                             MatchesRegex("APPROVED doc=2 .*")));
}

// Between the host's approval and the final status the caller has not learnt of the approval: the
// line says so and keeps its NSU, which is never handed out again.
TEST_F(SimAbandon, AfterTheHostApprovedTheLineSaysSoWithTheNsu) {
  ASSERT_EQ(lib.start(2, "10,00", "1"), kPending);
  for (int i = 0; i < 8; ++i) lib.next();  // into the result fields
  ASSERT_EQ(lib.configure(), 0);
  ASSERT_EQ(lib.start(2, "20,00", "2"), kPending);
  EXPECT_EQ(fieldValue(lib.drain(), 133), "000002");
  EXPECT_THAT(lib.ledgerLines()[0], MatchesRegex("ABANDONED doc=1 date=[0-9]{8} function=2 "
                                                 "approved=1 nsu=000001 at=[0-9]{14}"));
  EXPECT_EQ(lib.pending(today(), "1"), 0);
}

TEST_F(SimAbandon, AFinishedDialogueIsNotAbandoned) {
  ASSERT_EQ(lib.start(111, "0,00"), kPending);
  ASSERT_EQ(lib.drain().back().status, 0);
  ASSERT_EQ(lib.start(111, "0,00"), kPending);
  EXPECT_EQ(lib.ledgerText(), "");
}

}  // namespace
}  // namespace kelvora::sim::test
