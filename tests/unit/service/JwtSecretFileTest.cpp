// The installation's token key: written once where the service reads it, every other byte of the
// configuration kept, a key already set never replaced.
#include "service/JwtSecretFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <set>

#include "platform/IniFile.h"
#include "tests/unit/service/TempDir.h"
#include "tests/unit/support/PrivateAccess.h"

namespace kelvora::service {
namespace {

using kelvora::testing::IsPrivate;
using testing::TempDir;
namespace fs = std::filesystem;

TEST(NewJwtSecret, IsThirtyTwoLettersOrDigitsAndNeverRepeats) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string secret = NewJwtSecret();
    EXPECT_TRUE(std::regex_match(secret, std::regex("[A-Za-z0-9]{32}"))) << secret;
    EXPECT_TRUE(seen.insert(secret).second) << secret;
  }
}

TEST(EnsureJwtSecret, PlacesTheKeyWhereTheServiceReadsIt) {
  // "KEY" in `after` stands for the key written.
  const struct {
    std::optional<std::string> before;  // nullopt: no file
    std::string after;
  } cases[] = {
      {std::nullopt, "[security]\njwt_secret=KEY\n"},
      {"", "[security]\njwt_secret=KEY\n"},
      {"[sitef]\npdv_number=3", "[sitef]\npdv_number=3\n\n[security]\njwt_secret=KEY\n"},
      {"[security]\njwt_secret=\n[sitef]\npdv_number=3\n",
       "[security]\njwt_secret=KEY\n[sitef]\npdv_number=3\n"},
      {"[Security]\r\n; the key\r\n JWT_SECRET = \"\"\r\n",
       "[Security]\r\n; the key\r\njwt_secret=KEY\r\n"},
      {"[security]\n; jwt_secret=\n[server]\nlisten=127.0.0.1\n",
       "[security]\njwt_secret=KEY\n; jwt_secret=\n[server]\nlisten=127.0.0.1\n"},
      {"[sitef]\njwt_secret=elsewhere\n[security]\njwt_secret=\n",
       "[sitef]\njwt_secret=elsewhere\n[security]\njwt_secret=KEY\n"},
  };
  for (const auto& c : cases) {
    TempDir temp;
    const fs::path ini = temp.Path() / "SvcKelvoraSiTef.ini";
    if (c.before) temp.Write(ini.filename().string(), *c.before);

    EXPECT_EQ(EnsureJwtSecret(ini), TJwtSecretResult::Written) << c.after;
    const std::string key = platform::TIniFile(ini).ReadString("security", "jwt_secret", "");
    EXPECT_EQ(key.size(), 32u);
    std::string expected = c.after;
    expected.replace(expected.find("KEY"), 3, key);
    EXPECT_EQ(TempDir::Read(ini.string()), expected);
    if (!c.before) {
      EXPECT_TRUE(IsPrivate(ini, fs::perms::owner_read | fs::perms::owner_write));
    }
    // A second run keeps the key it wrote.
    EXPECT_EQ(EnsureJwtSecret(ini), TJwtSecretResult::Kept);
    EXPECT_EQ(TempDir::Read(ini.string()), expected);
  }
}

// On Windows the file ends up private whatever its access was: the key must not be readable by
// every local user.
TEST(EnsureJwtSecret, KeepsTheFilesPermissions) {
  TempDir temp;
  const std::string ini = temp.Write("SvcKelvoraSiTef.ini", "[sitef]\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(ini, mode);
  EnsureJwtSecret(ini);
  EXPECT_TRUE(IsPrivate(ini, mode));
}

TEST(EnsureJwtSecret, NeverReplacesAValueAlreadySet) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"[security]\njwt_secret=Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7\n", true},
      {"[security]\njwt_secret=short\n", false},
      {"[security]\njwt_secret=Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h-\n", false},
  };
  for (const auto& c : cases) {
    TempDir temp;
    const std::string ini = temp.Write("SvcKelvoraSiTef.ini", c.text);
    if (c.valid) {
      EXPECT_EQ(EnsureJwtSecret(ini), TJwtSecretResult::Kept);
    } else {
      EXPECT_THROW(EnsureJwtSecret(ini), std::runtime_error) << c.text;
    }
    EXPECT_EQ(TempDir::Read(ini), c.text);
  }
}

}  // namespace
}  // namespace kelvora::service
