// Verification and issuing of compact HMAC tokens, checked against tokens signed independently
// (RFC 7515's example and tokens made once with Node's crypto.createHmac).
#include "tokens/Jose.h"

#include <cctype>
#include <string>

#include <gtest/gtest.h>

#include "tokens/Base64Url.h"

namespace kelvora::tokens {
namespace {

using protocol::Json;

constexpr std::string_view kSecret = "Kv3n8QwLz2RbT7yHc5MfXa1PdG9sUe4J";

// Claims {"sale_id":"42","company_id":7,"callback_url":"https://vendas.example/api/",
// "exp":1000000000}: the expiry lies in 2001.
constexpr std::string_view kPayload =
    "eyJzYWxlX2lkIjoiNDIiLCJjb21wYW55X2lkIjo3LCJjYWxsYmFja191cmwiOiJodHRwczovL3ZlbmRhcy5leGFtcGxl"
    "L2FwaS8iLCJleHAiOjEwMDAwMDAwMDB9";

// Header {"alg":"HS256","typ":"JWT"} and the others, and each token signed with kSecret.
const std::string kHS256 = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9." + std::string(kPayload) +
                           ".0-HUFi4YjcukTwz6qMO1TzZfhHOXLVcmtiO-pIOOe-Q";
const std::string kHS384 = "eyJhbGciOiJIUzM4NCIsInR5cCI6IkpXVCJ9." + std::string(kPayload) +
                           ".ObXTCgghuD774lvZUu342SY3jiODR5NuR9MEIfA3vHD-uPLoN5FLv_8xrVGMvMrI";
const std::string kHS512 =
    "eyJhbGciOiJIUzUxMiIsInR5cCI6IkpXVCJ9." + std::string(kPayload) +
    ".P7i3_Bxa5LqKszGQ5nI6rMnYlVkF4vMoH53z0gcSo-eJ5yc5x8auFEXC4sFY5BtRr3ceO6pg1dZM2HSzqhkpZQ";
// The HS256 header and claims signed with another secret.
const std::string kOtherSecret = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9." + std::string(kPayload) +
                                 ".pfVzWg-hal47z7Rf8d70IHtsZ9IQaVLLYq2lC9tA2w8";

// Header and claims made with the service's writer, signed by the caller's choice of signature.
std::string Unsigned(std::string_view header, std::string_view claims = "{}") {
  return Base64UrlEncode(header) + "." + Base64UrlEncode(claims) + ".";
}

TEST(Verify, AcceptsEachHmacAlgorithmAndReadsTheClaims) {
  const std::pair<std::string, std::string> cases[] = {
      {kHS256, "HS256"}, {kHS384, "HS384"}, {kHS512, "HS512"}};
  for (const auto& [compact, alg] : cases) {
    const auto token = TJOSE::Verify(TJWK(kSecret), compact);
    ASSERT_TRUE(token) << alg;
    EXPECT_TRUE(token->Verified) << alg;
    EXPECT_EQ(token->Header, Json::parse(R"({"alg":")" + alg + R"(","typ":"JWT"})"));
    EXPECT_EQ(protocol::GetRequiredField(token->Claims, "sale_id"), "42");
    EXPECT_EQ(protocol::GetRequiredField(token->Claims, "company_id"), "7");
    EXPECT_EQ(token->Claims.at("exp"), 1000000000);  // long past, and not examined
  }
}

TEST(Verify, SignsTheSegmentsAsReceived) {
  // RFC 7515 appendix A.1: a binary key, and a header and claims with line breaks inside that a
  // re-encoding would lose.
  const auto key = Base64UrlDecode(
      "AyM1SysPpbyDfgZld3umj1qzKObwVMkoqQ-EstJQLr_T-1qS0gZH75aKtMN3Yj0iPS4hcgUuTwjAzZr1Z9CAow");
  ASSERT_TRUE(key);
  const auto token = TJOSE::Verify(TJWK(*key),
                                   "eyJ0eXAiOiJKV1QiLA0KICJhbGciOiJIUzI1NiJ9."
                                   "eyJpc3MiOiJqb2UiLA0KICJleHAiOjEzMDA4MTkzODAsDQogImh0dHA6Ly9leGF"
                                   "tcGxlLmNvbS9pc19yb290Ijp0cnVlfQ."
                                   "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
  ASSERT_TRUE(token);
  EXPECT_TRUE(token->Verified);
  EXPECT_EQ(token->Claims.at("iss"), "joe");
}

TEST(Verify, AnotherSecretGivesAnUnverifiedTokenWithReadableClaims) {
  const auto token = TJOSE::Verify(TJWK(kSecret), kOtherSecret);
  ASSERT_TRUE(token);
  EXPECT_FALSE(token->Verified);
  EXPECT_EQ(protocol::GetRequiredField(token->Claims, "callback_url"),
            "https://vendas.example/api/");
}

TEST(Verify, ASignatureThatDiffersInAnyWayDoesNotVerify) {
  std::string recased = kHS256;
  const auto letter = recased.find_first_of("abcdefghijklmnopqrstuvwxyz", recased.rfind('.'));
  recased[letter] = static_cast<char>(std::toupper(recased[letter]));
  std::string tamperedClaims = kHS256;
  tamperedClaims[kHS256.find('.') + 5] ^= 1;

  const std::string cases[] = {
      kHS256 + "=",  // padded
      kHS256 + "==",
      recased,  // letter case changed
      kHS256.substr(0, kHS256.size() - 1),
      kHS256.substr(0, kHS256.rfind('.') + 1),
      kHS512.substr(0, kHS512.rfind('.')) + kHS256.substr(kHS256.rfind('.')),
      tamperedClaims,
  };
  for (const auto& compact : cases) {
    const auto token = TJOSE::Verify(TJWK(kSecret), compact);
    ASSERT_TRUE(token) << compact;
    EXPECT_FALSE(token->Verified) << compact;
  }
}

TEST(Verify, GivesNothingForTokensItCannotTakeApartOrServe) {
  const std::string signature = kHS256.substr(kHS256.rfind('.') + 1);
  const std::string cases[] = {
      "",
      kHS256.substr(0, kHS256.rfind('.')),  // two segments
      kHS256 + ".e30",                      // four segments
      kHS256 + ".e30.e30",                  // five segments, as an encrypted token
      Unsigned(R"({"alg":"none","typ":"JWT"})"),
      Unsigned(R"({"typ":"JWT"})") + signature,  // no "alg"
      Unsigned(R"({"alg":"","typ":"JWT"})") + signature,
      Unsigned(R"({"alg":"RS256","typ":"JWT"})") + signature,
      Unsigned(R"({"alg":"hs256","typ":"JWT"})") + signature,
      Unsigned(R"({"alg":256})") + signature,
      "!!!." + std::string(kPayload) + "." + signature,   // header is not base64url
      Unsigned("not json") + signature,                   // header is not JSON
      Unsigned(R"(["HS256"])") + signature,               // header is JSON but not an object
      Unsigned(R"({"alg":"HS256"})", "[1]") + signature,  // claims are not an object
  };
  for (const auto& compact : cases) EXPECT_FALSE(TJOSE::Verify(TJWK(kSecret), compact)) << compact;
}

TEST(Verify, ClaimsThatAreNotJsonLeaveTheEmptyClaims) {
  const std::string header = kHS256.substr(0, kHS256.find('.'));
  const auto token = TJOSE::Verify(TJWK(kSecret), header + ".!!!.x");
  ASSERT_TRUE(token);
  EXPECT_FALSE(token->Verified);
  EXPECT_EQ(token->Claims, Json::object());
}

TEST(GenerateToken, IssuesTheSameHS384TokenEveryTime) {
  const std::string expected =
      "eyJ0eXAiOiJKV1QiLCJhbGciOiJIUzM4NCJ9.e30."
      "5n77otClA0IFJaZ0fcPztQRdzzdJslNV6uhIQTSgd_cdKqnZV0bgfv0VFvr2spQ5";
  EXPECT_EQ(GenerateToken(kSecret, std::nullopt), expected);
  EXPECT_EQ(GenerateToken(kSecret, std::nullopt), expected);

  const auto token = TJOSE::Verify(TJWK(kSecret), expected);
  ASSERT_TRUE(token);
  EXPECT_TRUE(token->Verified);
}

TEST(GenerateToken, WritesClaimsWithTheServiceEscaping) {
  // Claims {"sub":"café","url":"a/b"} written as {"sub":"caf\u00E9","url":"a\/b"}.
  EXPECT_EQ(GenerateToken(kSecret, Json::object({{"sub", "café"}, {"url", "a/b"}})),
            "eyJ0eXAiOiJKV1QiLCJhbGciOiJIUzM4NCJ9."
            "eyJzdWIiOiJjYWZcdTAwRTkiLCJ1cmwiOiJhXC9iIn0."
            "wy5MsfRrsQoiahclJdmiwC3YrUB4zikSaxidxE1r4nrqIPfj_ZiqOD_zGDoAIo8Z");
}

TEST(SignToken, SignsWithTheChosenAlgorithmAndKeepsTheHeaderOrder) {
  for (const auto algorithm :
       {TJOSEAlgorithm::HS256, TJOSEAlgorithm::HS384, TJOSEAlgorithm::HS512}) {
    TJWT token;
    token.Claims["sale_id"] = 42;
    const auto verified = TJOSE::Verify(TJWK(kSecret), SignToken(TJWK(kSecret), algorithm, token));
    ASSERT_TRUE(verified);
    EXPECT_TRUE(verified->Verified);
    EXPECT_EQ(protocol::WriteJson(verified->Header),
              R"({"typ":"JWT","alg":")" + std::string(AlgorithmName(algorithm)) + R"("})");
    EXPECT_EQ(verified->Claims, token.Claims);
  }

  TJWT token;
  token.Header = Json::object({{"alg", "none"}, {"typ", "JWT"}});
  const auto compact = SignToken(TJWK(kSecret), TJOSEAlgorithm::HS256, token);
  EXPECT_EQ(Base64UrlDecode(compact.substr(0, compact.find('.'))),
            R"({"alg":"HS256","typ":"JWT"})");

  token.Claims = Json::array();
  EXPECT_THROW(SignToken(TJWK(kSecret), TJOSEAlgorithm::HS256, token), std::invalid_argument);
}

// "exp" and "nbf" are NumericDates; the boundaries are exact and a claim that is no number refuses
// the token rather than making it timeless.
TEST(CheckTimeClaims, HonoursExpAndNbfAndRefusesWhatIsNoNumber) {
  const std::chrono::system_clock::time_point now{std::chrono::seconds(1'750'000'000)};
  const struct {
    std::string_view claims;
    TJWTTimeCheck expected;
  } cases[] = {
      {R"({})", TJWTTimeCheck::Valid},
      {R"({"sale_id":"1","iat":"whenever"})", TJWTTimeCheck::Valid},
      {R"({"exp":1750000001})", TJWTTimeCheck::Valid},
      {R"({"exp":1750000000.5})", TJWTTimeCheck::Valid},
      {R"({"exp":1750000000})", TJWTTimeCheck::Expired},
      {R"({"exp":0})", TJWTTimeCheck::Expired},
      {R"({"exp":1e300})", TJWTTimeCheck::Valid},
      {R"({"nbf":1750000000})", TJWTTimeCheck::Valid},
      {R"({"nbf":1750000001})", TJWTTimeCheck::NotYetValid},
      {R"({"nbf":1749999000,"exp":1750001000})", TJWTTimeCheck::Valid},
      {R"({"nbf":1750000100,"exp":1750001000})", TJWTTimeCheck::NotYetValid},
      {R"({"exp":"1750001000"})", TJWTTimeCheck::Malformed},
      {R"({"nbf":null})", TJWTTimeCheck::Malformed},
      {R"({"exp":true})", TJWTTimeCheck::Malformed},
      {R"({"exp":[1750001000]})", TJWTTimeCheck::Malformed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckTimeClaims(protocol::ParseJson(c.claims).value(), now), c.expected) << c.claims;
  }
}

}  // namespace
}  // namespace kelvora::tokens
