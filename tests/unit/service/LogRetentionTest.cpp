// Log retention over an old log tree: only the service's own dated files past the limit go, with
// the month folders they leave empty; foreign files, near-miss names, backups and links stay.
#include "service/LogRetention.h"

#include "FixedClock.h"
#include "RecordingSystemLog.h"
#include "TempDir.h"
#include "platform/Utf8Path.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace kelvora::service {
namespace {

namespace fs = std::filesystem;
using testing::FixedClock;
using testing::RecordedEntries;
using testing::RecordingSystemLog;
using testing::TempDir;

platform::TDateTime Day(int year, int month, int day) {
  return *platform::TryEncodeDate(year, month, day);
}

void Touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << "linha\r\n";
}

// Today is 11/12/2026; with 30 days kept, the last day kept is 11/11/2026.
class OldLogTree : public ::testing::Test {
 protected:
  OldLogTree() : log_(base_.Path(), "KelvoraSiTefService") {
    for (const fs::path& file : Expired()) Touch(file);
    for (const fs::path& file : Kept()) Touch(file);
  }

  fs::path Service(int y, int m, int d) const { return log_.FileFor(Day(y, m, d)); }
  fs::path Tef(int y, int m, int d) const { return TefLogFilePath(base_.Path(), Day(y, m, d)); }
  fs::path Under(const std::string& relative) const {
    return base_.Path() / platform::PathFromUtf8(relative);
  }

  std::vector<fs::path> Expired() const {
    return {Service(2026, 3, 15),  // Log/Março-2026: a month name beyond ASCII
            Service(2026, 11, 10), Tef(2026, 11, 10), Tef(2026, 10, 1),
            Service(2025, 10, 1),  Tef(2019, 2, 28)};
  }

  std::vector<fs::path> Kept() const {
    std::vector<fs::path> kept{
        Service(2026, 11, 11),
        Tef(2026, 11, 11),  // exactly 30 days old
        Service(2026, 12, 11),
        Tef(2026, 12, 11),    // today's
        Service(2027, 1, 5),  // a clock set back since: not past the limit
        // Not the service's: a foreign file, names close to the dated forms, a date that does
        // not exist, a dated name in another month's folder or at the top of Log/, and the
        // backups and kept reports.
        Under("Log/10-2026/notas.txt"),
        Under("Log/Outubro-2025/KelvoraSiTefService 01-10-2025.log.bak"),
        Under("Log/Outubro-2025/KelvoraSiTefService 1-10-2025.log"),
        Under("Log/Outubro-2025/KelvoraSiTefService  02-10-2025.log"),
        Under("Log/Outubro-2025/Outro 03-10-2025.log"),
        Under("Log/Outubro-2025/TEF-04-10-2025.log"),
        Under("Log/10-2025/TEF-04-10-2025.txt"),
        Under("Log/10-2025/TEF-0a-10-2025.log"),
        Under("Log/02-2025/TEF-31-02-2025.log"),
        Under("Log/Setembro-2025/KelvoraSiTefService 05-10-2025.log"),
        Under("Log/TEF-06-10-2025.log"),
        Under("TEF/KoCliSiTef_CliSiTef_001.tef"),
        Under("TEF/RegistrosAPI/KelvoraSiTefService 01-01-2020.log"),
    };
#ifndef _WIN32
    // Another name only where names differ by case: on Windows it is the service's own file.
    kept.push_back(Under("Log/Outubro-2025/kelvoraSiTefService 01-10-2025.log"));
#endif
    return kept;
  }

  TempDir base_;
  TServiceLog log_;
};

TEST_F(OldLogTree, RemovesOnlyTheServicesOwnDatedFilesPastTheLimit) {
  EXPECT_EQ(RemoveExpiredLogs(log_, Day(2026, 12, 11) + 0.5, 30),
            static_cast<int>(Expired().size()));
  for (const fs::path& file : Expired()) EXPECT_FALSE(fs::exists(file)) << file;
  for (const fs::path& file : Kept()) EXPECT_TRUE(fs::exists(file)) << file;
  // The month folders emptied go; one that still holds a foreign file stays.
  EXPECT_FALSE(fs::exists(Service(2026, 3, 15).parent_path()));
  EXPECT_FALSE(fs::exists(Tef(2019, 2, 28).parent_path()));
  EXPECT_TRUE(fs::exists(Tef(2026, 10, 1).parent_path()));
  EXPECT_TRUE(fs::exists(Service(2025, 10, 1).parent_path()));
}

TEST_F(OldLogTree, KeepsEverythingWithoutAPositiveKeepDays) {
  for (const int32_t keepDays : {0, -1}) {
    EXPECT_EQ(RemoveExpiredLogs(log_, Day(2026, 12, 11), keepDays), 0) << keepDays;
    for (const fs::path& file : Expired()) EXPECT_TRUE(fs::exists(file)) << file;
  }
}

#ifndef _WIN32
TEST_F(OldLogTree, NeverFollowsALinkOutOfTheLogFolder) {
  TempDir elsewhere;
  const fs::path outside = elsewhere.Path() / "TEF-01-09-2025.log";
  Touch(outside);
  fs::create_directory_symlink(elsewhere.Path(), Under("Log/09-2025"));
  fs::create_symlink(outside, Tef(2025, 10, 2));
  RemoveExpiredLogs(log_, Day(2026, 12, 11), 30);
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(fs::is_symlink(Tef(2025, 10, 2)));
}

// The log folder itself a link to another folder: nothing in the target is touched, not even its
// service-like old logs and their month folders.
TEST(LogRetentionThroughALink, ALinkedLogFolderIsNotSwept) {
  TempDir base;
  TempDir target;
  const TServiceLog log(base.Path(), "KelvoraSiTefService");
  const fs::path old = TefLogFilePath(target.Path(), Day(2025, 10, 1));
  Touch(old);
  fs::create_directory_symlink(target.Path() / "Log", base.Path() / "Log");
  EXPECT_EQ(RemoveExpiredLogs(log, Day(2026, 12, 11), 30), 0);
  EXPECT_TRUE(fs::exists(old));
}
#endif

TEST_F(OldLogTree, TheDailyRunReadsKeepDaysAndReportsWhatItRemoved) {
  std::ofstream(base_.Path() / "SvcKelvoraSiTef.ini") << "[log]\nkeep_days=30\n";
  const platform::TIniFile config(base_.Path() / "SvcKelvoraSiTef.ini");
  auto entries = std::make_shared<RecordedEntries>();
  const TSystemEvents events(std::make_unique<RecordingSystemLog>(entries));
  const FixedClock clock(2026, 12, 11);
  const TServiceLog log(base_.Path(), "KelvoraSiTefService", clock);
  TLogRetention retention(log, config, events, clock);
  retention.Start();
  for (int i = 0; i < 500 && entries->Entries().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  retention.Stop();

  const std::string text =
      "Arquivos de log com mais de 30 dias removidos: " + std::to_string(Expired().size()) + ".";
  const auto recorded = entries->Entries();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].EventName, "old-logs-removed");
  EXPECT_EQ(recorded[0].Message, text);
  std::ifstream serviceLog(log.FileFor(Day(2026, 12, 11)), std::ios::binary);
  const std::string lines{std::istreambuf_iterator<char>(serviceLog), {}};
  EXPECT_TRUE(lines.ends_with("[11/12/2026 14:03:22] " + text + "\r\n")) << lines;
  for (const fs::path& file : Expired()) EXPECT_FALSE(fs::exists(file)) << file;
}

}  // namespace
}  // namespace kelvora::service
