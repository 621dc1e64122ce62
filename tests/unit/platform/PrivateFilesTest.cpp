// Log text escaping, and the modes of the files and directories the service creates: owner and
// group only, whatever the umask.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/FileSystem.h"
#include "platform/LogText.h"
#include "platform/PrivateDirectory.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::platform {
namespace {

using kelvora::testing::TempDir;

TEST(EscapeLogText, WritesControlCharactersAsVisibleEscapes) {
  struct Case {
    std::string text;
    std::string escaped;
  };
  const Case cases[] = {
      {"Transação aprovada", "Transação aprovada"},
      {"linha\r\n-- 07/10 14:03:22:015 - forjada", "linha\\r\\n-- 07/10 14:03:22:015 - forjada"},
      {"só LF\nou CR\r", "só LF\\nou CR\\r"},
      {"a\tb", "a\\tb"},
      {std::string("nul\0fim", 7), "nul\\x00fim"},
      {"\x01\x1B[31m\x1F\x7F", "\\x01\\x1B[31m\\x1F\\x7F"},
      {"C:\\Kelvora\\Log \\x41", "C:\\Kelvora\\Log \\x41"},  // backslashes are kept
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeLogText(c.text), c.escaped) << c.text;
}

// Sets a umask for one test and puts the previous one back.
class Umask {
 public:
  explicit Umask(mode_t mask) : previous_(::umask(mask)) {}
  ~Umask() { ::umask(previous_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t previous_;
};

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

TEST(PrivateFiles, NewFilesAndDirectoriesAreClosedToOthersWhateverTheUmask) {
  for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    const Umask umask(mask);
    TempDir base;
    const auto nested = base.Path() / "TEF" / "RegistrosAPI";
    std::error_code error;
    ASSERT_TRUE(CreatePrivateDirectories(nested, error)) << error.message();
    EXPECT_EQ(ModeOf(base.Path() / "TEF"), 0750u) << mask;
    EXPECT_EQ(ModeOf(nested), 0750u) << mask;
    ASSERT_TRUE(CreatePrivateDirectory(base.Path() / "Log", error));
    EXPECT_EQ(ModeOf(base.Path() / "Log"), 0750u) << mask;

    ReplaceFileBytes((nested / "1.json").string(), "{}", true);
    EXPECT_EQ(ModeOf(nested / "1.json"), 0640u) << mask;
    AppendFileBytes((base.Path() / "Log" / "TEF.log").string(), "linha\r\n");
    EXPECT_EQ(ModeOf(base.Path() / "Log" / "TEF.log"), 0640u) << mask;
  }
}

TEST(PrivateFiles, ExistingFilesAndDirectoriesKeepTheirModes) {
  TempDir base;
  const auto log = base.Path() / "antigo.log";
  const auto directory = base.Path() / "Log";
  std::filesystem::create_directory(directory);
  std::filesystem::permissions(directory, std::filesystem::perms(0755));
  base.Write("antigo.log", "primeira\r\n");
  std::filesystem::permissions(log, std::filesystem::perms(0644));

  AppendFileBytes(log.string(), "segunda\r\n");
  EXPECT_EQ(TempDir::Read(log.string()), "primeira\r\nsegunda\r\n");
  EXPECT_EQ(ModeOf(log), 0644u);
  std::error_code error;
  ASSERT_TRUE(CreatePrivateDirectories(directory / "Outubro-2025", error));
  EXPECT_EQ(ModeOf(directory), 0755u);
  EXPECT_EQ(ModeOf(directory / "Outubro-2025"), 0750u);
}

TEST(PrivateFiles, ADirectoryThatCannotBeMadeIsReported) {
  TempDir base;
  base.Write("arquivo", "not a directory");
  std::error_code error;
  EXPECT_FALSE(CreatePrivateDirectories(base.Path() / "arquivo" / "TEF", error));
  EXPECT_TRUE(error);
  EXPECT_FALSE(CreatePrivateDirectory(base.Path() / "arquivo", error));
}

}  // namespace
}  // namespace kelvora::platform
