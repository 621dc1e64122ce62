// Reading the version note back from ELF files.
#include "platform/FileVersion.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

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

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Copies of this executable damaged where the reader follows the headers: each must read as a
// file without a version, and none may be read past its end.
TEST(FileVersion, DamagedCopiesHaveNoVersion) {
  const std::string self = ReadBytes("/proc/self/exe");
  Elf64_Ehdr header;
  std::memcpy(&header, self.data(), sizeof header);
  const size_t note = self.find(std::string("Kelvora\0", 8) + "9.8.7.6");
  ASSERT_NE(note, std::string::npos);

  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string sectionsPastTheEnd = self;
  const uint64_t beyond = self.size() + 4096;
  std::memcpy(sectionsPastTheEnd.data() + offsetof(Elf64_Ehdr, e_shoff), &beyond, sizeof beyond);
  std::string otherNoteName = self;
  otherNoteName[note] = 'k';
  const Case cases[] = {
      {"section headers past the end", sectionsPastTheEnd},
      {"cut inside the section headers", self.substr(0, header.e_shoff + 100)},
      {"note of another name", otherNoteName},
  };
  const std::string copy = ::testing::TempDir() + "damaged.elf";
  for (const Case& c : cases) {
    WriteBytes(copy, c.bytes);
    EXPECT_EQ(ReadFileVersion(copy), std::nullopt) << c.name;
  }
  std::remove(copy.c_str());
}

// The version of a file is remembered only while the file stays the same: a copy rewritten in
// place with another version of the same size, or replaced by a rename, is read again. The copy is
// left alone for more than a second first, as only a file that has settled is remembered.
TEST(FileVersion, AChangedFileIsReadAgain) {
  const std::string self = ReadBytes("/proc/self/exe");
  const size_t version = self.find(std::string("Kelvora\0", 8) + "9.8.7.6") + 8;
  std::string newer = self;
  newer[version + 6] = '7';
  const std::string copy = ::testing::TempDir() + "versioned.elf";
  const std::string replacement = ::testing::TempDir() + "versioned.new";

  WriteBytes(copy, self);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(ReadFileVersion(copy), "9.8.7.6");
  EXPECT_EQ(ReadFileVersion(copy), "9.8.7.6");
  WriteBytes(copy, newer);
  EXPECT_EQ(ReadFileVersion(copy), "9.8.7.7");
  WriteBytes(replacement, self);
  std::filesystem::rename(replacement, copy);
  EXPECT_EQ(ReadFileVersion(copy), "9.8.7.6");
  std::remove(copy.c_str());
  EXPECT_EQ(ReadFileVersion(copy), std::nullopt);
}

}  // namespace
}  // namespace kelvora::platform
