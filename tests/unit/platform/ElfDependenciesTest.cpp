// The DT_NEEDED names of an ELF file: a real program, and a small hand-made shared object spoiled
// in the ways a hostile or broken file can be.
#include "platform/ElfDependencies.h"

#include <elf.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace kelvora::platform {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint64_t kBase = 0x400000;

// A minimal 64-bit shared object of this machine: the header, a loadable segment covering the
// whole file, a dynamic segment and its string table, which needs libdep.so and libc.so.6 and
// names one dependency by a path.
struct Elf {
  Elf64_Ehdr header{};
  Elf64_Phdr load{};
  Elf64_Phdr dynamic{};
  std::vector<Elf64_Dyn> entries;
  std::string strings = std::string("\0libdep.so\0libc.so.6\0dir/liba.so\0", 33);

  static constexpr uint64_t kPhoff = sizeof(Elf64_Ehdr);
  static constexpr uint64_t kDynamicOffset = kPhoff + 2 * sizeof(Elf64_Phdr);

  Elf() {
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_phoff = kPhoff;
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = 2;
    entries = {{DT_NEEDED, {1}},
               {DT_NEEDED, {11}},
               {DT_NEEDED, {21}},
               {DT_STRTAB, {0}},
               {DT_STRSZ, {strings.size()}},
               {DT_NULL, {0}}};
  }

  uint64_t StringsOffset() const { return kDynamicOffset + entries.size() * sizeof(Elf64_Dyn); }

  // The file's bytes, with the addresses and sizes that follow from the layout filled in unless a
  // case has set them already.
  std::string Bytes() {
    for (Elf64_Dyn& e : entries) {
      if (e.d_tag == DT_STRTAB && e.d_un.d_ptr == 0) e.d_un.d_ptr = kBase + StringsOffset();
    }
    const uint64_t size = StringsOffset() + strings.size();
    load.p_type = PT_LOAD;
    load.p_vaddr = kBase;
    if (load.p_filesz == 0) load.p_filesz = size;
    dynamic.p_type = PT_DYNAMIC;
    if (dynamic.p_offset == 0) dynamic.p_offset = kDynamicOffset;
    if (dynamic.p_filesz == 0) dynamic.p_filesz = entries.size() * sizeof(Elf64_Dyn);
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(&load), sizeof load);
    bytes.append(reinterpret_cast<const char*>(&dynamic), sizeof dynamic);
    bytes.append(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(Elf64_Dyn));
    return bytes + strings;
  }
};

class ElfDependencies : public ::testing::Test {
 protected:
  std::vector<std::string> NeededOf(const std::string& bytes) {
    std::ofstream(file_, std::ios::binary) << bytes;
    return NeededLibraries(file_.string());
  }
  ~ElfDependencies() override { std::filesystem::remove(file_); }

  std::filesystem::path file_ = std::filesystem::temp_directory_path() /
                                ("kelvora-elf-" + std::to_string(::getpid()) + ".so");
};

TEST_F(ElfDependencies, ARealProgramNeedsTheCLibrary) {
  EXPECT_THAT(NeededLibraries("/proc/self/exe"), Contains("libc.so.6"));
  EXPECT_THAT(NeededLibraries("/nonexistent/libx.so"), IsEmpty());
}

TEST_F(ElfDependencies, NamesComeInOrderAndNamesWithAPathAreLeftOut) {
  EXPECT_THAT(NeededOf(Elf().Bytes()), ElementsAre("libdep.so", "libc.so.6"));
}

TEST_F(ElfDependencies, AFileThatDoesNotHoldTogetherNamesNothing) {
  struct Case {
    const char* what;
    std::function<void(Elf&)> spoil;
  };
  const std::vector<Case> cases = {
      {"not ELF", [](Elf& e) { e.header.e_ident[1] = 'X'; }},
      {"other byte order", [](Elf& e) { e.header.e_ident[EI_DATA] = ELFDATA2MSB; }},
      {"unknown class", [](Elf& e) { e.header.e_ident[EI_CLASS] = 7; }},
      {"program headers past the end", [](Elf& e) { e.header.e_phoff = 1u << 30; }},
      {"program header offset wraps", [](Elf& e) { e.header.e_phoff = UINT64_MAX - 8; }},
      {"65535 program headers", [](Elf& e) { e.header.e_phnum = 0xFFFF; }},
      {"short program header entries", [](Elf& e) { e.header.e_phentsize = 8; }},
      {"dynamic section past the end", [](Elf& e) { e.dynamic.p_offset = 1u << 30; }},
      {"dynamic section too large", [](Elf& e) { e.dynamic.p_filesz = uint64_t{1} << 40; }},
      {"string table outside every segment", [](Elf& e) { e.entries[3].d_un.d_ptr = 0x10; }},
      {"string table larger than the file", [](Elf& e) { e.entries[4].d_un.d_val = 1u << 20; }},
      {"string table size absurd", [](Elf& e) { e.entries[4].d_un.d_val = UINT64_MAX; }},
      {"name offset past the table", [](Elf& e) { e.entries[1].d_un.d_val = 1000; }},
      {"name without its NUL",
       [](Elf& e) {
         e.strings.pop_back();
         e.entries[4].d_un.d_val = 32;
       }},
      {"segment end wraps", [](Elf& e) { e.load.p_offset = UINT64_MAX - 4; }},
  };
  for (const Case& c : cases) {
    Elf elf;
    c.spoil(elf);
    EXPECT_THAT(NeededOf(elf.Bytes()), IsEmpty()) << c.what;
  }

  // Every truncation of a good file.
  const std::string whole = Elf().Bytes();
  for (size_t n = 0; n < whole.size(); ++n) {
    EXPECT_THAT(NeededOf(whole.substr(0, n)), IsEmpty()) << n << " bytes";
  }
}

}  // namespace
}  // namespace kelvora::platform
