// The scripted dialogues, driven through ContinuaFuncaoSiTefInterativo as the service drives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "SimHarness.h"

namespace kelvora::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int kPending = 10000;

std::vector<int> commands(const std::vector<Cmd>& steps) {
  std::vector<int> codes;
  for (const auto& c : steps) {
    if (c.status == kPending) codes.push_back(c.command);
  }
  return codes;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

int count(const std::vector<int>& v, int x) {
  return static_cast<int>(std::count(v.begin(), v.end(), x));
}

// "SIMULAÇÃO - SEM VALOR" in Windows-1252.
const std::string kSimulationLine = "SIMULA\xC7\xC3O - SEM VALOR";

class SimDialogue : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(lib.configure(), 0); }
  SimLibrary lib;
};

TEST_F(SimDialogue, DebitWaitsForTheCardThenReportsAnApprovedDebit) {
  const auto before = localNow("%Y%m%d%H%M%S");
  ASSERT_EQ(lib.start(2, "12,34"), kPending);
  const auto steps = lib.drain();
  const auto after = localNow("%Y%m%d%H%M%S");

  EXPECT_THAT(commands(steps),
              ElementsAre(1, 2, 23, 23, 23, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(steps[0].data, HasSubstr("cartao"));
  EXPECT_THAT(steps[1].data, HasSubstr("cartao"));
  EXPECT_THAT(fieldNumbers(steps),
              ElementsAre(100, 101, 102, 105, 121, 122, 131, 132, 133, 134, 135, 156, 157, 2021));
  EXPECT_EQ(steps.back().status, 0);

  EXPECT_EQ(fieldValue(steps, 100), "0100");
  EXPECT_EQ(fieldValue(steps, 102),
            "Cart\xE3o de D\xE9"
            "bito");
  const auto host = fieldValue(steps, 105);
  EXPECT_EQ(host.size(), 14u);
  EXPECT_GE(host, before);
  EXPECT_LE(host, after);
  EXPECT_THAT(fieldValue(steps, 133), ::testing::MatchesRegex("[0-9]{6}"));
  EXPECT_THAT(fieldValue(steps, 2021), ::testing::MatchesRegex("[0-9]{6}\\*{6}[0-9]{4}"));
}

struct MethodCase {
  const char* name;
  const char* item;
  int firstCommandAfterMenu;
};

void PrintTo(const MethodCase& c, std::ostream* os) {
  *os << c.name;
}

class SimPaymentMenu : public SimDialogue, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(SimPaymentMenu, OffersDebitCreditAndPixAndFollowsTheChoice) {
  ASSERT_EQ(lib.start(0), kPending);
  const auto title = lib.next();
  EXPECT_EQ(title.command, 4);
  const auto menu = lib.next();
  EXPECT_EQ(menu.command, 21);
  EXPECT_EQ(menu.data, "1:Debito;2:Credito;3:Pix;");
  EXPECT_EQ(lib.next(GetParam().item).command, GetParam().firstCommandAfterMenu);
}

INSTANTIATE_TEST_SUITE_P(Cases, SimPaymentMenu,
                         ::testing::Values(MethodCase{"debit", "1", 1},
                                           MethodCase{"credit", "2", 4}, MethodCase{"pix", "3", 50},
                                           // An item that is not offered shows the menu again.
                                           MethodCase{"unknownItem", "4", 4}),
                         [](const auto& info) { return info.param.name; });

struct CreditCase {
  const char* name;
  const char* plan;
  const char* instalments;  // nullptr: not asked
  const char* modality;
  int count;
};

void PrintTo(const CreditCase& c, std::ostream* os) {
  *os << c.name;
}

class SimCredit : public SimDialogue, public ::testing::WithParamInterface<CreditCase> {};

TEST_P(SimCredit, ReportsModalityAndEveryInstalment) {
  const auto& c = GetParam();
  ASSERT_EQ(lib.start(3, "100,00"), kPending);
  EXPECT_EQ(lib.next().command, 4);
  const auto menu = lib.next();
  ASSERT_EQ(menu.command, 21);
  EXPECT_EQ(menu.data,
            "1:A Vista;2:Parcelado pelo Estabelecimento;3:Parcelado pela Administradora;");
  auto step = lib.next(c.plan);
  if (c.instalments) {
    EXPECT_EQ(step.command, 30);
    EXPECT_EQ(step.field, 505);
    step = lib.next(c.instalments);
  }
  EXPECT_EQ(step.command, 1) << "then the card is asked for";
  const auto steps = lib.drain();
  ASSERT_EQ(steps.back().status, 0);

  EXPECT_EQ(fieldValue(steps, 100), c.modality);
  const auto fields = fieldNumbers(steps);
  EXPECT_EQ(count(fields, 505), c.count ? 1 : 0);
  EXPECT_EQ(count(fields, 511), c.count ? 1 : 0);
  EXPECT_EQ(count(fields, 141), c.count);
  EXPECT_EQ(count(fields, 142), c.count);
  EXPECT_EQ(fieldValue(steps, 511), c.count ? std::to_string(c.count) : "");
  EXPECT_EQ(fieldValue(steps, 121).find("1\xAA PARCELA") != std::string::npos, c.count > 0);

  // The instalments add up to the amount, and fall due a month apart.
  long long total = 0;
  std::vector<std::string> dues;
  for (const auto& [f, v] : resultFields(steps)) {
    if (f == 142)
      total += std::stoll(v.substr(0, v.find(','))) * 100 + std::stoll(v.substr(v.find(',') + 1));
    if (f == 141) dues.push_back(v.substr(4, 4) + v.substr(2, 2) + v.substr(0, 2));
  }
  EXPECT_EQ(total, c.count ? 10000 : 0);
  EXPECT_TRUE(std::is_sorted(dues.begin(), dues.end()));
  EXPECT_EQ(std::adjacent_find(dues.begin(), dues.end()), dues.end());
}

INSTANTIATE_TEST_SUITE_P(Cases, SimCredit,
                         ::testing::Values(CreditCase{"atOnce", "1", nullptr, "0200", 0},
                                           CreditCase{"byMerchant", "2", "3", "0202", 3},
                                           CreditCase{"byIssuer", "3", "03", "0203", 3},
                                           CreditCase{"twelve", "2", "12", "0202", 12}),
                         [](const auto& info) { return info.param.name; });

TEST_F(SimDialogue, CreditAsksAgainForAnInvalidNumberOfInstalments) {
  ASSERT_EQ(lib.start(3, "0,02"), kPending);
  lib.next();
  lib.next();
  ASSERT_EQ(lib.next("2").field, 505);
  for (const char* bad : {"1", "13", "", "x", "3"}) {  // 3 instalments of 0,02 would be empty
    const auto message = lib.next(bad);
    EXPECT_EQ(message.command, 3) << bad;
    const auto again = lib.next();
    EXPECT_EQ(again.command, 30) << bad;
    EXPECT_EQ(again.field, 505) << bad;
  }
  EXPECT_EQ(lib.next("2").command, 1);
}

TEST_F(SimDialogue, PixShowsAValidCopyPasteCodeThenReportsAPaymentThatIsNoCard) {
  lib.writeIni("[dialog]\npix_polls=5\n");
  ASSERT_EQ(lib.start(0, "12,34"), kPending);
  lib.next();
  lib.next();
  const auto qr = lib.next("3");
  ASSERT_EQ(qr.command, 50);
  EXPECT_EQ(qr.field, 584);
  EXPECT_THAT(qr.data, StartsWith("000201"));
  EXPECT_THAT(qr.data, HasSubstr("br.gov.bcb.pix"));
  EXPECT_THAT(qr.data, HasSubstr("540512.34"));
  // The last four characters are the CRC-16/CCITT of everything before them.
  std::uint16_t crc = 0xFFFF;
  for (unsigned char b : qr.data.substr(0, qr.data.size() - 4)) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  char expected[5];
  std::snprintf(expected, sizeof expected, "%04X", crc);
  EXPECT_EQ(qr.data.substr(qr.data.size() - 4), expected);

  const auto steps = lib.drain();
  EXPECT_EQ(count(commands(steps), 23), 5);
  EXPECT_EQ(steps.back().status, 0);
  const auto modality = fieldValue(steps, 100);
  EXPECT_THAT(modality, ::testing::Not(StartsWith("01")));
  EXPECT_THAT(modality, ::testing::Not(StartsWith("02")));
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr(kSimulationLine));
  EXPECT_EQ(count(fieldNumbers(steps), 2021), 0) << "no card number for a Pix";
}

// Every receipt says on its first and last line that it is a simulation, is Windows-1252 text of
// several LF-separated lines that fit a 40-column printer, and shows the amount.
struct ReceiptCase {
  const char* name;
  int function;
  std::vector<std::string> answers;
};

void PrintTo(const ReceiptCase& c, std::ostream* os) {
  *os << c.name;
}

class SimReceipts : public SimDialogue, public ::testing::WithParamInterface<ReceiptCase> {};

TEST_P(SimReceipts, AreMarkedAsSimulationsInWindows1252) {
  ASSERT_EQ(lib.start(GetParam().function, "12,34"), kPending);
  std::vector<Cmd> steps;
  for (const auto& a : GetParam().answers) steps.push_back(lib.next(a));
  for (const auto& c : lib.drain()) steps.push_back(c);
  ASSERT_EQ(steps.back().status, 0);
  for (int field : {121, 122}) {
    const auto text = fieldValue(steps, field);
    const auto receipt = lines(text);
    ASSERT_GE(receipt.size(), 5u) << field;
    EXPECT_THAT(receipt.front(), HasSubstr(kSimulationLine));
    EXPECT_THAT(receipt.back(), HasSubstr(kSimulationLine));
    EXPECT_THAT(text, HasSubstr("12,34"));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find("\xC3\x87"), std::string::npos) << "UTF-8 leaked into " << field;
    for (const auto& line : receipt) EXPECT_LE(line.size(), 40u) << line;
  }
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr("VIA CLIENTE"));
  EXPECT_THAT(fieldValue(steps, 122), HasSubstr("VIA ESTABELECIMENTO"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimReceipts,
    ::testing::Values(ReceiptCase{"debit", 2, {}},
                      ReceiptCase{"creditInstalments", 3, {"", "", "3", "3"}},
                      ReceiptCase{"pix", 0, {"", "", "3"}},
                      ReceiptCase{"cancellation", 200, {"", "01012024", "123", "12,34"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(SimDialogue, CancellationAsksDateNsuAndAmountThenApprovesWithReceipts) {
  ASSERT_EQ(lib.start(200, "0,00"), kPending);
  const auto date = lib.next();
  EXPECT_EQ(std::tie(date.command, date.field, date.min, date.max), std::make_tuple(30, 515, 8, 8));
  const auto nsu = lib.next("05012024");
  EXPECT_EQ(std::tie(nsu.command, nsu.field), std::make_tuple(30, 516));
  const auto amount = lib.next("000042");
  EXPECT_EQ(std::tie(amount.command, amount.field), std::make_tuple(34, 146));
  const auto steps = lib.drain("12,50");
  ASSERT_EQ(steps.back().status, 0);
  EXPECT_THAT(fieldNumbers(steps), ElementsAre(105, 121, 122, 131, 133, 134, 135, 156, 157));
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr("NSU ORIGINAL 000042 DE 05/01/2024"));
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr("12,50"));
  EXPECT_THAT(lib.ledgerLines(),
              ElementsAre(::testing::MatchesRegex("APPROVED doc=1234 date=[0-9]{8} function=200 "
                                                  "value=12,50 nsu=[0-9]{6} orig_nsu=000042 "
                                                  "orig_date=05012024 at=[0-9]{14}")));
  EXPECT_EQ(lib.pending(), 1) << "a cancellation waits for confirmation as a payment does";
}

struct BadAnswerCase {
  const char* name;
  std::vector<std::string> before;  // answers that lead to the question
  std::string bad;
  int field;
};

void PrintTo(const BadAnswerCase& c, std::ostream* os) {
  *os << c.name;
}

class SimCancellationInput : public SimDialogue,
                             public ::testing::WithParamInterface<BadAnswerCase> {};

TEST_P(SimCancellationInput, AnUnusableAnswerIsExplainedAndAskedAgain) {
  ASSERT_EQ(lib.start(200, "0,00"), kPending);
  Cmd question = lib.next();
  for (const auto& a : GetParam().before) question = lib.next(a);
  ASSERT_EQ(question.field, GetParam().field);
  EXPECT_EQ(lib.next(GetParam().bad).command, 3);
  EXPECT_EQ(lib.next().field, GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimCancellationInput,
    ::testing::Values(BadAnswerCase{"impossibleDate", {}, "31022024", 515},
                      BadAnswerCase{"yearFirstDate", {}, "20240105", 515},
                      BadAnswerCase{"futureDate", {}, "01013000", 515},
                      BadAnswerCase{"lettersInNsu", {"05012024"}, "12A", 516},
                      BadAnswerCase{"emptyNsu", {"05012024"}, "", 516},
                      BadAnswerCase{"zeroAmount", {"05012024", "1"}, "0,00", 146},
                      BadAnswerCase{"textAmount", {"05012024", "1"}, "abc", 146}),
    [](const auto& info) { return info.param.name; });

TEST_F(SimDialogue, CommunicationTestEndsAtOnce) {
  ASSERT_EQ(lib.start(111, "0,00"), kPending);
  EXPECT_EQ(lib.next().status, 0);
  EXPECT_EQ(lib.ledgerText(), "");
}

TEST_F(SimDialogue, AdministrativeMenuLeadsToTestReprintAndCancellation) {
  ASSERT_EQ(lib.start(110, "0,00"), kPending);
  EXPECT_EQ(lib.next().command, 4);
  const auto menu = lib.next();
  EXPECT_EQ(menu.command, 21);
  EXPECT_EQ(
      menu.data,
      "1:Teste de comunicacao;2:Reimpressao do ultimo comprovante;3:Cancelamento de transacao;");
  EXPECT_EQ(lib.next("1").status, 0);

  ASSERT_EQ(lib.start(110, "0,00"), kPending);
  lib.next();
  lib.next();
  const auto cancel = lib.next("3");
  EXPECT_EQ(std::tie(cancel.command, cancel.field), std::make_tuple(30, 515));

  ASSERT_EQ(lib.start(110, "0,00"), kPending);
  lib.next();
  lib.next();
  EXPECT_EQ(lib.drain("2").back().status, -40) << "nothing to reprint yet";
}

class SimReprint : public SimDialogue, public ::testing::WithParamInterface<int> {};

TEST_P(SimReprint, ShowsTheLastReceiptsMarkedAsAReprint) {
  ASSERT_EQ(lib.start(2, "12,34", "77"), kPending);
  const auto payment = lib.drain();
  ASSERT_EQ(payment.back().status, 0);

  ASSERT_EQ(lib.start(GetParam(), "1,00", "78"), kPending);
  const auto steps = lib.drain();
  ASSERT_EQ(steps.back().status, 0);
  EXPECT_THAT(fieldNumbers(steps), ElementsAre(56, 57, 58, 121, 122));
  EXPECT_EQ(fieldValue(steps, 56), fieldValue(payment, 133));
  EXPECT_EQ(fieldValue(steps, 58), "12,34");
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr("REIMPRESS\xC3O"));
  EXPECT_THAT(fieldValue(steps, 121), HasSubstr(fieldValue(payment, 2021)));
  EXPECT_EQ(lib.pending(today(), "78"), 0) << "a reprint is no transaction";
}

INSTANTIATE_TEST_SUITE_P(Codes, SimReprint, ::testing::Values(112, 113, 114));

TEST_F(SimDialogue, ReprintSkipsAnUndonePayment) {
  ASSERT_EQ(lib.start(2, "10,00", "1"), kPending);
  const auto kept = lib.drain();
  ASSERT_EQ(lib.finalize(1, "1"), 0);
  ASSERT_EQ(lib.start(2, "20,00", "2"), kPending);
  ASSERT_EQ(lib.drain().back().status, 0);
  ASSERT_EQ(lib.finalize(0, "2"), 0);

  ASSERT_EQ(lib.start(114, "1,00", "3"), kPending);
  const auto steps = lib.drain();
  EXPECT_EQ(fieldValue(steps, 56), fieldValue(kept, 133));
  EXPECT_EQ(fieldValue(steps, 58), "10,00");
}

TEST_F(SimDialogue, ReprintWithNothingToReprintIsRefused) {
  ASSERT_EQ(lib.start(113, "1,00"), kPending);
  const auto steps = lib.drain();
  EXPECT_THAT(commands(steps), ElementsAre(3));
  EXPECT_EQ(steps.back().status, -40);
}

}  // namespace
}  // namespace kelvora::sim::test
