// File versions read from Windows version resources: the service's own, the simulator DLL's, and
// files that carry none.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/FileVersion.h"
#include "tests/unit/support/TempDir.h"

namespace kelvora::platform {
namespace {

TEST(VersionResource, IsReadFromTheFixedFileInformation) {
  EXPECT_EQ(ReadFileVersion(SERVICE_EXE), "1.0.0.4");
  // The simulator's suffix, which tells it apart, is kept with the numbers it follows.
  EXPECT_EQ(ReadFileVersion(SIMULATOR_DLL), "6.2.0.1-sim");
}

TEST(VersionResource, AFileWithoutOneHasNoVersion) {
  const testing::TempDir dir;
  const struct {
    const char* what;
    std::string path;
  } cases[] = {
      {"missing file", dir.File("absent.dll")},
      {"not a program", dir.Write("text.dll", "MZ but nothing else")},
      {"empty file", dir.Write("empty.exe", "")},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadFileVersion(c.path), std::nullopt) << c.what;
}

}  // namespace
}  // namespace kelvora::platform
