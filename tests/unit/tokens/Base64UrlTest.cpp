// base64url against the alphabet and padding rules of RFC 4648 section 5.
#include "tokens/Base64Url.h"

#include <string>

#include <gtest/gtest.h>

namespace kelvora::tokens {
namespace {

TEST(Base64Url, EncodesWithTheUrlAlphabetAndNoPadding) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"f", "Zg"},
      {"fo", "Zm8"},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg"},
      {"\xFB\xFF", "-_8"},
      {"{\"typ\":\"JWT\",\"alg\":\"HS384\"}", "eyJ0eXAiOiJKV1QiLCJhbGciOiJIUzM4NCJ9"},
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(Base64UrlEncode(bytes), text);
    EXPECT_EQ(Base64UrlDecode(text), bytes) << text;
  }
}

TEST(Base64Url, EveryByteValueSurvivesTheRoundTrip) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  for (std::size_t length = 0; length <= 4; ++length) {
    const std::string part = bytes.substr(0, bytes.size() - length);
    EXPECT_EQ(Base64UrlDecode(Base64UrlEncode(part)), part);
  }
}

TEST(Base64Url, DecodeReadsWhatStandardBase64ReadsAfterPaddingAndTranslation) {
  EXPECT_EQ(Base64UrlDecode("Zg=="), "f");
  EXPECT_EQ(Base64UrlDecode("Zg="), "f");
  EXPECT_EQ(Base64UrlDecode("+/8"), "\xFB\xFF");
  const std::string invalid[] = {
      "Z", "Zm9vY", "Zm9v!", "Zm 9v", "Zm9v\n", "Z===", "Zg=A", "=Zg=", "====",
  };
  for (const auto& text : invalid) EXPECT_FALSE(Base64UrlDecode(text)) << text;
}

}  // namespace
}  // namespace kelvora::tokens
