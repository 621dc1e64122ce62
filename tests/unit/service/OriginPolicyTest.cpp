// Origins as compared against the allowed list, the list settings, and listen addresses.
#include "service/OriginPolicy.h"
#include "service/ServerSettings.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace kelvora::service {
namespace {

TEST(NormalizeOrigin, LowersSchemeAndHostAndDropsTheDefaultPort) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"https://pos.example", "https://pos.example"},
      {"HTTPS://POS.Example", "https://pos.example"},
      {"https://pos.example:443", "https://pos.example"},
      {"https://pos.example:0443", "https://pos.example"},
      {"http://pos.example:80", "http://pos.example"},
      {"http://pos.example:443", "http://pos.example:443"},
      {"https://pos.example:8443", "https://pos.example:8443"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      {"https://[FE80::1]", "https://[fe80::1]"},
      {"chrome-extension://abcdef", "chrome-extension://abcdef"},
      {"null", std::nullopt},
      {"", std::nullopt},
      {"pos.example", std::nullopt},
      {"https://", std::nullopt},
      {"https://pos.example/", std::nullopt},
      {"https://pos.example/path", std::nullopt},
      {"https://user@pos.example", std::nullopt},
      {"https://pos.example:", std::nullopt},
      {"https://pos.example:65536", std::nullopt},
      {"https://pos.example:12a", std::nullopt},
      {"https://pos.example?x", std::nullopt},
      {"https://pos example", std::nullopt},
      {"https://pos.example, https://other.example", std::nullopt},
      {"1http://pos.example", std::nullopt},
  };
  for (const auto& [text, normal] : cases) EXPECT_EQ(NormalizeOrigin(text), normal) << text;
}

TEST(TOriginPolicy, AllowsListedOriginsAndRequestsWithoutOne) {
  std::vector<std::string> invalid;
  const TOriginPolicy policy = TOriginPolicy::FromSetting(
      " https://pos.example/,http://localhost:8080  not-an-origin,,http://[::1]:8080", invalid);
  EXPECT_TRUE(policy.Restricted());
  EXPECT_EQ(invalid, std::vector<std::string>{"not-an-origin"});
  const std::pair<std::optional<std::string>, bool> cases[] = {
      {std::nullopt, true},
      {"https://pos.example", true},
      {"https://POS.EXAMPLE:443", true},
      {"http://localhost:8080", true},
      {"http://[::1]:8080", true},
      {"http://pos.example", false},
      {"https://pos.example:8443", false},
      {"http://localhost", false},
      {"https://pos.example.evil", false},
      {"not-an-origin", false},
      {"null", false},
      {"", false},
  };
  for (const auto& [origin, allowed] : cases) {
    EXPECT_EQ(policy.Allows(origin), allowed) << origin.value_or("(no Origin)");
  }

  for (const char* blank : {"", "  ", " , "}) {
    const TOriginPolicy open = TOriginPolicy::FromSetting(blank, invalid);
    EXPECT_FALSE(open.Restricted()) << "'" << blank << "'";
    EXPECT_TRUE(open.Allows("https://anything.example"));
  }
  const TOriginPolicy onlyInvalid = TOriginPolicy::FromSetting("pos.example", invalid);
  EXPECT_TRUE(onlyInvalid.Restricted()) << "a mistyped list must not open the door to every page";
  EXPECT_FALSE(onlyInvalid.Allows("https://pos.example"));
}

TEST(EscapeForLog, EscapesControlCharactersAndCutsLongText) {
  EXPECT_EQ(EscapeForLog("https://a\r\n[01/01/2025 00:00:00] forged\x7F"),
            "https://a\\x0D\\x0A[01/01/2025 00:00:00] forged\\x7F");
  EXPECT_EQ(EscapeForLog(std::string(300, 'o')), std::string(256, 'o') + "...");
}

TEST(ParseListenAddress, TakesNumericIpv4AndIpv6Addresses) {
  const std::pair<const char*, int> cases[] = {
      {"127.0.0.1", AF_INET}, {"0.0.0.0", AF_INET},  {"::1", AF_INET6}, {"[::1]", AF_INET6},
      {"::", AF_INET6},       {"fe80::1", AF_INET6}, {"localhost", 0},  {"127.0.0", 0},
      {"256.0.0.1", 0},       {"[127.0.0.1", 0},     {"::1%lo", 0},     {"", 0},
  };
  for (const auto& [text, family] : cases) {
    const std::optional<TListenAddress> address = ParseListenAddress(text);
    EXPECT_EQ(address ? address->Family : 0, family) << text;
  }
  EXPECT_EQ(ParseListenAddress("127.0.0.1")->Bytes[0], 127);
}

TEST(SplitSettingList, SplitsAtBlanksAndCommas) {
  EXPECT_EQ(SplitSettingList(" 127.0.0.1, ::1\t,,[::1] "),
            (std::vector<std::string>{"127.0.0.1", "::1", "[::1]"}));
  EXPECT_TRUE(SplitSettingList(" , ").empty());
}

}  // namespace
}  // namespace kelvora::service
