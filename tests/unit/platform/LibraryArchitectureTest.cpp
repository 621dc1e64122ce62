// The architecture of a library read from its header: PE and ELF files of each word size, headers
// spoiled as a hostile or broken file can be, and the loader refusing a library of the other word
// size before it loads it (under Wine, the Windows loader of each build).
#include "platform/LibraryArchitecture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/DynamicLibrary.h"

namespace kelvora::platform {
namespace {

// A DOS header whose e_lfanew points at a PE signature and a COFF header with this machine.
std::string PeHeader(unsigned machine, std::uint32_t lfanew = 0x80) {
  std::string bytes(0x100, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>((lfanew >> (8 * i)) & 0xFF);
  if (lfanew + 6 <= bytes.size()) {
    bytes.replace(lfanew, 4, std::string("PE\0\0", 4));
    bytes[lfanew + 4] = static_cast<char>(machine & 0xFF);
    bytes[lfanew + 5] = static_cast<char>(machine >> 8);
  }
  return bytes;
}

// The identification and e_machine of a little-endian ELF file.
std::string ElfHeader(int elfClass, unsigned machine) {
  std::string bytes(64, '\0');
  bytes.replace(0, 4, "\x7f" "ELF");
  bytes[4] = static_cast<char>(elfClass);
  bytes[5] = 1;
  bytes[6] = 1;
  bytes[18] = static_cast<char>(machine & 0xFF);
  bytes[19] = static_cast<char>(machine >> 8);
  return bytes;
}

TEST(LibraryArchitectureTest, ReadsTheHeaderOfEachFormat) {
  struct Case {
    const char* name;
    std::string header;
    BinaryFormat format;
    int bits;
  };
  const Case cases[] = {
      {"PE i386", PeHeader(0x014C), BinaryFormat::Pe, 32},
      {"PE x86-64", PeHeader(0x8664), BinaryFormat::Pe, 64},
      {"PE arm64", PeHeader(0xAA64), BinaryFormat::Pe, 64},
      {"PE of an unknown machine", PeHeader(0x1234), BinaryFormat::Pe, 0},
      {"ELF 32-bit i386", ElfHeader(1, 3), BinaryFormat::Elf, 32},
      {"ELF 64-bit x86-64", ElfHeader(2, 62), BinaryFormat::Elf, 64},
      {"ELF of no class", ElfHeader(0, 62), BinaryFormat::Elf, 0},
      {"e_lfanew past the bytes read", PeHeader(0x014C, 0xFFFFFFF0), BinaryFormat::Unknown, 0},
      {"e_lfanew at the last bytes", PeHeader(0x014C, 0xFE), BinaryFormat::Unknown, 0},
      {"MZ without a PE signature", PeHeader(0x014C).replace(0x80, 2, "NE"), BinaryFormat::Unknown,
       0},
      {"a DOS header cut short", "MZ\x90", BinaryFormat::Unknown, 0},
      {"an ELF identification cut short", "\x7f" "ELF\x01\x01", BinaryFormat::Unknown, 0},
      {"text", "; not a library\n", BinaryFormat::Unknown, 0},
      {"nothing", "", BinaryFormat::Unknown, 0},
  };
  for (const Case& c : cases) {
    const BinaryArchitecture read = ReadBinaryArchitecture(c.header);
    EXPECT_EQ(read.Format, c.format) << c.name;
    EXPECT_EQ(read.Bits, c.bits) << c.name;
  }
}

TEST(LibraryArchitectureTest, OnlyAnotherWordSizeOrProcessorOfTheSystemsFormatIsRefused) {
  const BinaryArchitecture service64{BinaryFormat::Pe, 64, 0x8664};
  const BinaryArchitecture service32{BinaryFormat::Pe, 32, 0x014C};
  EXPECT_EQ(LibraryArchitectureMismatch({BinaryFormat::Pe, 32, 0x014C}, service64),
            "a biblioteca é de 32 bits; este serviço é de 64 bits");
  EXPECT_EQ(LibraryArchitectureMismatch({BinaryFormat::Pe, 64, 0x8664}, service32),
            "a biblioteca é de 64 bits; este serviço é de 32 bits");
  EXPECT_EQ(LibraryArchitectureMismatch({BinaryFormat::Pe, 64, 0xAA64}, service64),
            "a biblioteca é para outro processador; este serviço é de 64 bits");
  EXPECT_EQ(LibraryArchitectureMismatch(service64, service64), std::nullopt);
  // What the check cannot read is left to the loader, which names the fault itself.
  EXPECT_EQ(LibraryArchitectureMismatch({BinaryFormat::Elf, 32, 3}, service64), std::nullopt);
  EXPECT_EQ(LibraryArchitectureMismatch({BinaryFormat::Pe, 0, 0x1234}, service64), std::nullopt);
  EXPECT_EQ(LibraryArchitectureMismatch({}, service64), std::nullopt);
}

// A file with the header of this system's format and the other word size: the loader is never
// asked, and the reason names both sizes.
TEST(LibraryArchitectureTest, TheLoaderRefusesALibraryOfTheOtherWordSize) {
  const BinaryArchitecture self = ThisProgramArchitecture();
  const bool pe = self.Format == BinaryFormat::Pe;
  const int otherBits = self.Bits == 64 ? 32 : 64;
  const std::string header = pe ? PeHeader(otherBits == 32 ? 0x014C : 0x8664)
                                : ElfHeader(otherBits == 32 ? 1 : 2, otherBits == 32 ? 3 : 62);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "kelvora-library-architecture";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "CliSiTef32I.dll";
  std::ofstream(file, std::ios::binary) << header;

  std::string error;
  DynamicLibrary library = DynamicLibrary::Open(file.string(), true, error);
  EXPECT_FALSE(library.Loaded());
  EXPECT_EQ(error, file.string() + ": a biblioteca é de " + std::to_string(otherBits) +
                       " bits; este serviço é de " + std::to_string(self.Bits) + " bits");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kelvora::platform
