// The configuration file: case-insensitive names, the integer and boolean rules, reads at each use.
#include "platform/IniFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kelvora::platform {
namespace {

using service::testing::TempDir;

void Write(const std::filesystem::path& file, std::string_view text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

TEST(ParseProfileInteger, ReadsDecimalAndHexadecimalText) {
  const std::pair<const char*, std::optional<int32_t>> cases[] = {
      {"12", 12},
      {"  7 ", 7},
      {"-3", -3},
      {"+4", 4},
      {"0x1A", 26},
      {"0X1a", 26},
      {"$1A", 26},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"$100000000", std::nullopt},
      {"abc", std::nullopt},
      {"true", std::nullopt},
      {"12abc", std::nullopt},
      {"1.5", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"-", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseProfileInteger(text), value) << text;
}

TEST(TIniFile, ReadsTheServiceKeysWithTheirRules) {
  struct Case {
    const char* file;
    int32_t pdvNumber;
    bool qrcodeOnPinpad;
  };
  const Case cases[] = {
      {"[sitef]\npdv_number=0x1A\nqrcode_on_pinpad=2\n", 26, true},
      {"[Sitef]\npdv_number=abc\nqrcode_on_pinpad=true\n", 0, false},
      {"[SITEF]\r\nPDV_Number = 7\r\nQRCode_On_Pinpad = 1\r\n", 7, true},
      {"[sitef]\npdv_number=\"12\"\nqrcode_on_pinpad=0\n", 12, false},
      {"[other]\npdv_number=5\n", 0, false},
      {"; only a comment\n", 0, false},
      {"[sitef]\npdv_number=3\npdv_number=4\n[Sitef]\npdv_number=5\n", 3, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const TIniFile ini(dir.Path() / "SvcKelvoraSiTef.ini");
    Write(ini.FileName(), c.file);
    EXPECT_EQ(ini.ReadInteger("sitef", "pdv_number", 0), c.pdvNumber) << c.file;
    EXPECT_EQ(ini.ReadBool("Sitef", "qrcode_on_pinpad", false), c.qrcodeOnPinpad) << c.file;
  }
}

TEST(TIniFile, MissingFileGivesTheDefaultsAndEditsTakeEffectAtTheNextRead) {
  TempDir dir;
  const TIniFile ini(dir.Path() / "SvcKelvoraSiTef.ini");
  EXPECT_EQ(ini.ReadInteger("sitef", "pdv_number", 0), 0);
  EXPECT_FALSE(ini.ReadBool("Sitef", "qrcode_on_pinpad", false));
  EXPECT_EQ(ini.ReadString("sitef", "pdv_number", "none"), "none");

  Write(ini.FileName(), "[sitef]\npdv_number=41\n");
  EXPECT_EQ(ini.ReadInteger("sitef", "pdv_number", 0), 41);
  Write(ini.FileName(), "[sitef]\npdv_number=42\n");
  EXPECT_EQ(ini.ReadInteger("sitef", "pdv_number", 0), 42);
}

}  // namespace
}  // namespace kelvora::platform
