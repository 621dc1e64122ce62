// The outbox of sales-API reports with a scripted delivery: what is kept on disk, what is
// delivered again and when, and what a stop leaves behind.
#include "protocol/SaleReportOutbox.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/Json.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::protocol {
namespace {

using ::kelvora::testing::TempDir;
using namespace std::chrono_literals;

// Answers each body from its script, one answer per attempt (the last one again when the script
// runs out), and keeps the order of the attempts.
class ScriptedApi {
 public:
  explicit ScriptedApi(std::map<std::string, std::vector<TReportDelivery>> scripts)
      : scripts_(std::move(scripts)) {}

  TSaleReportOutbox::TDeliver Deliver() {
    return [this](const TSaleReport& report, const std::atomic<bool>&) {
      const std::lock_guard lock(lock_);
      attempts_.push_back(report.Body);
      eventIds_.push_back(report.EventId);
      changed_.notify_all();
      const std::vector<TReportDelivery>& script = scripts_.at(report.Body);
      const size_t tried = static_cast<size_t>(
          std::count(attempts_.begin(), attempts_.end(), report.Body));
      return script[std::min(tried, script.size()) - 1];
    };
  }

  // Waits until `count` attempts have been made; the attempts so far.
  std::vector<std::string> WaitForAttempts(size_t count) {
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, 10s, [&] { return attempts_.size() >= count; });
    return attempts_;
  }

  // The event id of each attempt, in the order of the attempts.
  std::vector<std::string> EventIds() {
    const std::lock_guard lock(lock_);
    return eventIds_;
  }

 private:
  std::map<std::string, std::vector<TReportDelivery>> scripts_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> attempts_;
  std::vector<std::string> eventIds_;
};

// The names in a directory, sorted.
std::vector<std::string> Names(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  std::error_code none;
  for (const auto& entry : std::filesystem::directory_iterator(directory, none)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A record as written by the outbox; without an event id, as written before reports had one.
std::string Record(const std::string& body, const std::optional<Json>& eventId = std::nullopt) {
  Json record = Json::object({{"url", "http://api.invalid/"}, {"body", body}});
  if (eventId) record["event_id"] = *eventId;
  return WriteJson(record);
}

const auto kIgnoreLog = [](std::string_view) {};

TEST(SaleReportOutbox, KeepsAReportUntilTheApiHasAnsweredIt) {
  const TempDir base;
  const std::filesystem::path directory = base.Path() / "reports";
  ScriptedApi api({});
  TSaleReportOutbox outbox(directory, api.Deliver(), kIgnoreLog);

  const std::string accepted = outbox.Keep({"http://api.invalid/", "{\"n\":1}", "id-1"});
  const std::string refused = outbox.Keep({"http://api.invalid/", "{\"n\":2}", "id-2"});
  EXPECT_EQ(Names(directory).size(), 2u);
  EXPECT_EQ(TempDir::Read(accepted), Record("{\"n\":1}", "id-1"));
  EXPECT_LT(accepted, refused) << "names sort in the order the reports were made";

  outbox.Answered(accepted, TReportDelivery::Accepted);
  outbox.Answered(refused, TReportDelivery::Refused);
  std::filesystem::path setAside(refused);
  setAside.replace_extension(".recusado");
  EXPECT_EQ(Names(directory), std::vector<std::string>{setAside.filename().string()});
  EXPECT_EQ(TempDir::Read(setAside.string()), Record("{\"n\":2}", "id-2"));

  // An id that could not travel in a header is never written.
  EXPECT_THROW(outbox.Keep({"http://api.invalid/", "{}", "id\r\nX-Forged: 1"}), std::invalid_argument);
  EXPECT_THROW(outbox.Keep({"http://api.invalid/", "{}", ""}), std::invalid_argument);
}

TEST(SaleReportOutbox, NewEventIdsAreUniqueAndFitAHeader) {
  const std::string first = NewReportEventId();
  EXPECT_EQ(first.size(), 36u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef-"), std::string::npos) << first;
  EXPECT_NE(first, NewReportEventId());
}

// Every attempt at a report carries the same event id, the one it was kept with; a record from
// before event ids is named by its file; a record whose id could inject a header is not sent.
TEST(SaleReportOutbox, EveryAttemptCarriesTheEventIdOfItsRecord) {
  const TempDir base;
  const std::filesystem::path directory = base.Path() / "reports";
  std::filesystem::create_directories(directory);
  std::ofstream(directory / "20261210T010000Z_7_1.json") << Record("kept", "0f1e-id");
  std::ofstream(directory / "20261210T010000Z_7_2.json") << Record("older");
  std::ofstream(directory / "20261210T010000Z_7_3.json") << Record("forged", "x\r\nX-Forged: 1");
  std::ofstream(directory / "20261210T010000Z_7_4.json") << Record("number", 42);
  ScriptedApi api({
      {"kept", {TReportDelivery::Unanswered, TReportDelivery::Accepted}},
      {"older", {TReportDelivery::Accepted}},
  });
  {
    TSaleReportOutbox outbox(directory, api.Deliver(), kIgnoreLog, 20ms);
    outbox.Start();
    EXPECT_EQ(api.WaitForAttempts(3), (std::vector<std::string>{"kept", "older", "kept"}));
  }
  EXPECT_EQ(api.EventIds(),
            (std::vector<std::string>{"0f1e-id", "20261210T010000Z_7_2", "0f1e-id"}));
  EXPECT_EQ(Names(directory), (std::vector<std::string>{"20261210T010000Z_7_3.json",
                                                        "20261210T010000Z_7_4.json"}));
}

// Reports left by an earlier process go out at once, in the order they were made; one that goes
// unanswered is tried again after a wait that doubles, and leaves the disk once the API takes it.
// A refused one is set aside, an unreadable one stays for a person to look at.
TEST(SaleReportOutbox, DeliversWhatAnEarlierProcessLeftAndRetriesWhatGoesUnanswered) {
  const TempDir base;
  const std::filesystem::path directory = base.Path() / "reports";
  std::filesystem::create_directories(directory);
  std::ofstream(directory / "20261210T010000Z_7_1.json") << Record("first");
  std::ofstream(directory / "20261210T010000Z_7_2.json") << Record("second");
  std::ofstream(directory / "20261210T010000Z_7_3.json") << Record("refused");
  std::ofstream(directory / "20261210T010000Z_7_4.json") << "{\"url\":";
  ScriptedApi api({
      {"first", {TReportDelivery::Unanswered, TReportDelivery::Unanswered, TReportDelivery::Accepted}},
      {"second", {TReportDelivery::Accepted}},
      {"refused", {TReportDelivery::Refused}},
  });
  std::vector<std::string> log;
  std::mutex logLock;
  {
    TSaleReportOutbox outbox(directory, api.Deliver(), [&](std::string_view text) {
      const std::lock_guard lock(logLock);
      log.emplace_back(text);
    }, 20ms);
    outbox.Start();
    EXPECT_EQ(api.WaitForAttempts(5),
              (std::vector<std::string>{"first", "second", "refused", "first", "first"}));
    for (int i = 0; i < 500 && Names(directory).size() > 2; ++i) std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(Names(directory), (std::vector<std::string>{"20261210T010000Z_7_3.recusado",
                                                        "20261210T010000Z_7_4.json"}));
  const std::lock_guard lock(logLock);
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Registro de transação para a API ilegível: " +
                          (directory / "20261210T010000Z_7_4.json").string()),
            log.end());
}

// Stopping abandons a delivery in progress: its report stays on disk for the next start, which
// sends it again.
TEST(SaleReportOutbox, AStopLeavesAnUnansweredReportOnDiskForTheNextStart) {
  const TempDir base;
  const std::filesystem::path directory = base.Path() / "reports";
  std::filesystem::create_directories(directory);
  std::ofstream(directory / "20261210T010000Z_7_1.json") << Record("slow");
  std::atomic<bool> started{false};
  {
    std::atomic<int> attempts{0};
    TSaleReportOutbox outbox(
        directory,
        [&](const TSaleReport&, const std::atomic<bool>& stop) {
          if (++attempts > 1) return TReportDelivery::Accepted;
          started = true;
          while (!stop) std::this_thread::sleep_for(1ms);
          return TReportDelivery::Unanswered;
        },
        kIgnoreLog);
    outbox.Start();
    while (!started) std::this_thread::sleep_for(1ms);
    outbox.Stop();
    EXPECT_EQ(Names(directory), std::vector<std::string>{"20261210T010000Z_7_1.json"});
    outbox.Start();
    for (int i = 0; i < 500 && !Names(directory).empty(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(attempts, 2);
  }
  EXPECT_EQ(Names(directory), std::vector<std::string>{});
}

}  // namespace
}  // namespace kelvora::protocol
