// Reading the version note back from ELF files.
#include "platform/FileVersion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

KELVORA_FILE_VERSION_NOTE("9.8.7.6");

namespace kelvora::platform {
namespace {

TEST(FileVersion, ReadsTheNoteOfThisExecutable) {
  EXPECT_EQ(ReadFileVersion("/proc/self/exe"), "9.8.7.6");
}

TEST(FileVersion, FilesWithoutANoteHaveNoVersion) {
  const std::string text_file = ::testing::TempDir() + "not-elf.txt";
  std::ofstream(text_file) << "just text";
  const std::string truncated = ::testing::TempDir() + "truncated.elf";
  std::ofstream(truncated) << "\x7F" "ELF\x02\x01";
  for (const std::string& path : {text_file, truncated, std::string("/no/such/file"),
                                  std::string("/bin/true")}) {
    EXPECT_EQ(ReadFileVersion(path), std::nullopt) << path;
  }
  std::remove(text_file.c_str());
  std::remove(truncated.c_str());
}

}  // namespace
}  // namespace kelvora::platform
