// The service log's files, lines and failures, and the TEF log's file name.
#include "service/ServiceLog.h"

#include "FixedClock.h"
#include "TempDir.h"
#include "tests/unit/support/PrivateAccess.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace kelvora::service {
namespace {

using kelvora::testing::IsPrivate;
using testing::FixedClock;
using testing::TempDir;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(GravaLog, WritesTheTimestampedLineInTheMonthDirectory) {
  TempDir base;
  FixedClock clock(2025, 10, 7);
  const TServiceLog log(base.Path(), "KelvoraSiTefService", clock);
  EXPECT_TRUE(log.GravaLog("Iniciando servidor socket."));
  EXPECT_TRUE(log.GravaLog("O serviço foi inciado."));
  const auto file = base.Path() / "Log" / "Outubro-2025" / "KelvoraSiTefService 07-10-2025.log";
  EXPECT_EQ(ReadFile(file),
            "[07/10/2025 14:03:22] Iniciando servidor socket.\r\n"
            "[07/10/2025 14:03:22] O servi\xE7o foi inciado.\r\n");
}

// Blank texts give empty lines; any other text is kept as given, except that its control
// characters are escaped, so that a text from outside cannot end its line and forge the next one.
TEST(GravaLog, WritesBlankTextsAsEmptyLinesAndEveryOtherTextOnOneLine) {
  struct Case {
    std::string text;
    std::string line;
  };
  const Case cases[] = {
      {"", "\r\n"},
      {"    ", "\r\n"},
      {" \t\r\n\x01", "\r\n"},
      {"  leading blanks", "[01/02/2026 09:05:07]   leading blanks\r\n"},
      {"trailing blank ", "[01/02/2026 09:05:07] trailing blank \r\n"},
      {"Não pode cancelar", "[01/02/2026 09:05:07] N\xE3o pode cancelar\r\n"},
      {"€ ✓", "[01/02/2026 09:05:07] \x80 ?\r\n"},
      {"Erro da API: falhou\r\n[01/02/2026 09:05:08] O serviço foi parado.",
       "[01/02/2026 09:05:07] Erro da API: falhou\\r\\n[01/02/2026 09:05:08] O servi\xE7o foi "
       "parado.\r\n"},
      {"tab\tnul\x01"
       "del\x7F",
       "[01/02/2026 09:05:07] tab\\tnul\\x01del\\x7F\r\n"},
  };
  for (const Case& c : cases) {
    TempDir base;
    FixedClock clock(2026, 2, 1, 9, 5, 7);
    const TServiceLog log(base.Path(), "KelvoraSiTefService", clock);
    ASSERT_TRUE(log.GravaLog(c.text));
    EXPECT_EQ(
        ReadFile(base.Path() / "Log" / "Fevereiro-2026" / "KelvoraSiTefService 01-02-2026.log"),
        c.line)
        << c.text;
  }
}

TEST(GravaLog, ChangesFileEachDayAndDirectoryEachMonth) {
  TempDir base;
  FixedClock clock(2025, 3, 31, 23, 59, 59);
  const TServiceLog log(base.Path(), "KelvoraSiTefService", clock);
  ASSERT_TRUE(log.GravaLog("a"));
  clock.Set(2025, 4, 1, 0, 0, 0);
  ASSERT_TRUE(log.GravaLog("b"));
  clock.Set(2025, 4, 2, 0, 0, 0);
  ASSERT_TRUE(log.GravaLog("c"));
  const auto logDir = base.Path() / "Log";
  EXPECT_EQ(ReadFile(logDir / "Março-2025" / "KelvoraSiTefService 31-03-2025.log"),
            "[31/03/2025 23:59:59] a\r\n");
  EXPECT_EQ(ReadFile(logDir / "Abril-2025" / "KelvoraSiTefService 01-04-2025.log"),
            "[01/04/2025 00:00:00] b\r\n");
  EXPECT_EQ(ReadFile(logDir / "Abril-2025" / "KelvoraSiTefService 02-04-2025.log"),
            "[02/04/2025 00:00:00] c\r\n");
}

TEST(GravaLog, ReturnsFalseWhenTheLogCannotBeWritten) {
  TempDir base;
  std::ofstream(base.Path() / "Log") << "a file where the Log directory should be";
  FixedClock clock(2025, 10, 7);
  const TServiceLog log(base.Path(), "KelvoraSiTefService", clock);
  EXPECT_FALSE(log.GravaLog("lost"));

  const TServiceLog missingBase(base.Path() / "Log" / "below-a-file", "KelvoraSiTefService", clock);
  EXPECT_FALSE(missingBase.GravaLog("lost"));
}

TEST(GravaLog, KeepsLinesWholeWhenThreadsWriteAtOnce) {
  TempDir base;
  FixedClock clock(2025, 10, 7);
  const TServiceLog log(base.Path(), "KelvoraSiTefService", clock);
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  const std::string padding(300, 'x');
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i)
          log.GravaLog("thread " + std::to_string(t) + " " + padding);
      });
    }
  }
  std::istringstream lines(ReadFile(log.FileFor(platform::Now(clock))));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    ASSERT_TRUE(line.starts_with("[07/10/2025 14:03:22] thread ")) << line;
    ASSERT_TRUE(line.ends_with(padding + "\r")) << line;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST(GravaLog, CreatesItsDirectoriesAndFilesForOwnerAndGroupOnly) {
  const mode_t previous = ::umask(022);
  TempDir base;
  FixedClock clock(2025, 10, 7);
  const TServiceLog log(base.Path(), "KelvoraSiTefService", clock);
  EXPECT_TRUE(log.GravaLog("Iniciando servidor socket."));
  const platform::TDateTime date = *platform::TryEncodeDate(2025, 10, 7);
  TefLogFileName(base.Path(), date);
  ::umask(previous);
  const auto directory = std::filesystem::perms(0750), file = std::filesystem::perms(0640);
  EXPECT_TRUE(IsPrivate(base.Path() / "Log", directory));
  EXPECT_TRUE(IsPrivate(base.Path() / "Log" / "Outubro-2025", directory));
  EXPECT_TRUE(IsPrivate(base.Path() / "Log" / "10-2025", directory));
  EXPECT_TRUE(IsPrivate(log.FileFor(date), file));
}

TEST(TefLogFileName, CreatesTheMonthDirectoryAndNamesTheDaysFile) {
  TempDir base;
  const platform::TDateTime date = *platform::TryEncodeDateTime({2025, 10, 7, 23, 59, 0, 0});
  EXPECT_EQ(TefLogFileName(base.Path(), date),
            base.Path() / "Log" / "10-2025" / "TEF-07-10-2025.log");
  EXPECT_TRUE(std::filesystem::is_directory(base.Path() / "Log" / "10-2025"));
}

TEST(TefLogFileName, NamesTheFileEvenWhenTheDirectoriesCannotBeMade) {
  TempDir base;
  std::ofstream(base.Path() / "Log") << "not a directory";
  const platform::TDateTime date = *platform::TryEncodeDate(2026, 1, 5);
  EXPECT_EQ(TefLogFileName(base.Path(), date),
            base.Path() / "Log" / "01-2026" / "TEF-05-01-2026.log");
}

}  // namespace
}  // namespace kelvora::service
