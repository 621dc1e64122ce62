// The journal of operations cut by a crash at each of its writes: read back at the next start, it
// must tell the page the truth about the money (interrupted, approved and waiting in its backup,
// or confirmed), ignore a record cut in half, and keep later records readable.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "protocol/OperationJournal.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::protocol {
namespace {

class SteadyClock final : public platform::Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::system_clock::now();
  }
};

std::vector<std::string> Lines(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The records of one approved payment, confirmed and reported, as the journal writes them.
std::vector<std::string> ApprovedPaymentRecords(const SteadyClock& clock) {
  const testing::TempDir dir;
  TOperationJournal journal(dir.Path(), clock);
  journal.Load([](const std::string&) { return false; });
  const TJournalOperation op =
      journal.Begin(TOperationKind::Payment, "k", 4837, platform::Currency::FromCents(2600), 0);
  TJournalEvent approved("approved");
  approved.Nsu = "000001";
  approved.AuthorizerNsu = "900000001";
  journal.Record(op.Id, approved);
  TJournalEvent confirmed("confirmed");
  confirmed.CompanyId = 7;
  journal.Record(op.Id, confirmed);
  TJournalEvent reported("reported");
  reported.PaymentId = 1000;
  journal.Record(op.Id, reported);
  return Lines(TOperationJournal::FileOf(dir.Path(), platform::Now(clock)));
}

struct KillPoint {
  const char* name;
  size_t whole;   // records on disk before the crash
  bool torn;      // and half of the next one
  bool backedUp;  // the payment's backup still on disk
  TOperationStatus expected;
  std::optional<bool> reportSent;
};

TEST(OperationJournal, ACrashAtEachWriteLeavesTheTruthAboutTheMoney) {
  const SteadyClock clock;
  const std::vector<std::string> records = ApprovedPaymentRecords(clock);
  ASSERT_EQ(records.size(), 4u);
  const KillPoint points[] = {
      {"during the request", 0, true, false, TOperationStatus::Running, std::nullopt},
      {"after the request, before the approval", 1, false, false, TOperationStatus::Interrupted,
       std::nullopt},
      {"after the backup, before its record", 1, true, true, TOperationStatus::Approved,
       std::nullopt},
      {"after the approval", 2, false, true, TOperationStatus::Approved, std::nullopt},
      {"after the confirmation in the library, before its record", 2, true, false,
       TOperationStatus::Confirmed, false},
      {"during the report", 3, false, false, TOperationStatus::Confirmed, false},
      {"after the report", 4, false, false, TOperationStatus::Confirmed, true},
  };
  for (const KillPoint& point : points) {
    SCOPED_TRACE(point.name);
    const testing::TempDir dir;
    const std::filesystem::path file = TOperationJournal::FileOf(dir.Path(), platform::Now(clock));
    std::filesystem::create_directories(file.parent_path());
    {
      std::ofstream out(file, std::ios::binary);
      for (size_t i = 0; i < point.whole; ++i) out << records[i] << '\n';
      if (point.torn) out << records[point.whole].substr(0, records[point.whole].size() / 2);
    }
    TOperationJournal journal(dir.Path(), clock);
    journal.Load([&](const std::string&) { return point.backedUp; });
    const std::optional<TJournalOperation> op = journal.FindByKey("k");
    if (point.whole == 0) {
      EXPECT_FALSE(op) << "a request cut in half never happened";
      continue;
    }
    ASSERT_TRUE(op);
    EXPECT_EQ(StatusName(op->Status), StatusName(point.expected));
    EXPECT_EQ(op->ReportSent, point.reportSent);

    // What the start wrote after a torn record is on a line of its own and reads back.
    TOperationJournal again(dir.Path(), clock);
    again.Load([&](const std::string&) { return point.backedUp; });
    EXPECT_EQ(StatusName(again.FindByKey("k")->Status), StatusName(point.expected));
  }
}

TEST(OperationJournal, AnEndingWithoutMoneyNeverHidesASettlement) {
  const SteadyClock clock;
  const testing::TempDir dir;
  TOperationJournal journal(dir.Path(), clock);
  journal.Load([](const std::string&) { return false; });
  const TJournalOperation op =
      journal.Begin(TOperationKind::Payment, "", 1, platform::Currency::FromCents(100), 0);
  journal.Record(op.Id, TJournalEvent("approved"));
  journal.Record(op.Id, TJournalEvent("interrupted", "conexão perdida"));
  EXPECT_EQ(journal.Find(op.Id)->Status, TOperationStatus::Approved);
  journal.Record(op.Id, TJournalEvent("confirmed"));
  journal.Record(op.Id, TJournalEvent("refused"));
  EXPECT_EQ(journal.Find(op.Id)->Status, TOperationStatus::Confirmed);
  EXPECT_EQ(journal.ForSale(1).size(), 1u);
  EXPECT_FALSE(journal.FindByKey("")) << "operations without a key are found by sale only";
}

TEST(OperationJournal, KeysAsAPageMaySendThem) {
  EXPECT_TRUE(ValidIdempotencyKey("sale-4837_a1"));
  EXPECT_TRUE(ValidIdempotencyKey(std::string(64, 'x')));
  for (const std::string& key : {std::string(), std::string(65, 'x'), std::string("a b"),
                                 std::string("ç"), std::string("a\nb")}) {
    EXPECT_FALSE(ValidIdempotencyKey(key)) << key;
  }
}

}  // namespace
}  // namespace kelvora::protocol
