// The configuration file: case-insensitive names, the integer and boolean rules, reads at each use.
#include "platform/IniFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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

// The example configuration of README, as an operator copies it, comments and all: every value
// reads without its comment.
TEST(TIniFile, ReadsTheReadmeExampleWithItsInlineComments) {
  std::ifstream readme(KELVORA_README, std::ios::binary);
  ASSERT_TRUE(readme) << KELVORA_README;
  std::stringstream text;
  text << readme.rdbuf();
  const std::string all = text.str();
  const size_t section = all.find("### Configuration");
  const size_t begin = all.find("```ini\n", section);
  const size_t end = all.find("```\n", begin + 7);
  ASSERT_NE(section, std::string::npos);
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  TempDir dir;
  const TIniFile ini(dir.Path() / "SvcKelvoraSiTef.ini");
  Write(ini.FileName(), all.substr(begin + 7, end - begin - 7));

  EXPECT_EQ(ini.ReadInteger("sitef", "pdv_number", 0), 3);
  EXPECT_FALSE(ini.ReadBool("sitef", "qrcode_on_pinpad", true));
  EXPECT_EQ(ini.ReadString("sitef", "library", ""), "...");
  EXPECT_EQ(ini.ReadString("security", "jwt_secret", ""), "...");
  EXPECT_EQ(ini.ReadString("security", "allowed_origins", ""), "https://pos.example");
  EXPECT_EQ(ini.ReadString("server", "listen", ""), "127.0.0.1 ::1");
  EXPECT_EQ(ini.ReadInteger("server", "max_connections", 0), 64);
  EXPECT_EQ(ini.ReadInteger("server", "max_sessions", 0), 256);
  EXPECT_EQ(ini.ReadString("server", "tls_min_version", ""), "1.2");
  EXPECT_EQ(ini.ReadString("metrics", "listen", ""), "127.0.0.1:9464");
}

// Notepad's UTF-8 with its byte-order mark and CR LF: the mark is skipped and the text comes back
// as UTF-8, the comment left out.
TEST(TIniFile, ReadsUtf8WithAByteOrderMark) {
  TempDir dir;
  const TIniFile ini(dir.Path() / "SvcKelvoraSiTef.ini");
  Write(ini.FileName(), "\xEF\xBB\xBF[sitef]\r\nloja=Balc\xC3\xA3o ; coment\xC3\xA1rio\r\n");
  EXPECT_EQ(ini.ReadString("sitef", "loja", ""), "Balc\xC3\xA3o");
}

}  // namespace
}  // namespace kelvora::platform
