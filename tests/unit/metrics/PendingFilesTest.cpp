// Pending work counted from its files: only the names that stand for it, and the age of the
// oldest by its last write.
#include "metrics/PendingFiles.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/unit/support/TempDir.h"

namespace kelvora::metrics {
namespace {

TEST(PendingFiles, CountsOnlyTheirOwnFilesAndAgesTheOldest) {
  const kelvora::testing::TempDir base;
  const std::filesystem::path outbox = base.Path() / "RegistrosAPI";
  std::filesystem::create_directories(outbox);
  const auto now = std::chrono::system_clock::now();
  const auto write = [&](const std::filesystem::path& file, std::chrono::seconds age) {
    std::ofstream(file) << "x";
    std::filesystem::last_write_time(
        file, std::chrono::file_clock::from_sys(
                  std::chrono::time_point_cast<std::chrono::file_clock::duration>(now - age)));
  };
  write(base.Path() / "KoCliSiTef_CliSiTef_001.tef", std::chrono::seconds(700));
  write(base.Path() / "KoCliSiTef_CliSiTef_002.tef", std::chrono::seconds(10));
  write(base.Path() / "KoCliSiTef_CliSiTef_003.tmp", std::chrono::seconds(9000));
  write(base.Path() / "Other.tef", std::chrono::seconds(9000));
  write(outbox / "20260101T000000Z_1_00000001.json", std::chrono::seconds(1000));
  write(outbox / "20260101T000000Z_1_00000002.recusado", std::chrono::seconds(9000));

  const TPendingFiles backups = PendingBackups(base.Path(), now);
  EXPECT_EQ(backups.Count, 2u);
  EXPECT_NEAR(backups.OldestAgeSeconds, 700, 1);
  const TPendingFiles reports = PendingSalesReports(outbox, now);
  EXPECT_EQ(reports.Count, 1u);
  EXPECT_NEAR(reports.OldestAgeSeconds, 1000, 1);
}

TEST(PendingFiles, AFolderThatDoesNotExistHoldsNone) {
  const TPendingFiles none =
      PendingBackups("/nonexistent/kelvora/TEF", std::chrono::system_clock::now());
  EXPECT_EQ(none.Count, 0u);
  EXPECT_EQ(none.OldestAgeSeconds, 0);
}

}  // namespace
}  // namespace kelvora::metrics
