// The sales-API report signatures against the vectors of docs/protocol/signature-vectors.md, which
// were made independently (Node's crypto.createHmac and the openssl command line), and against that
// document itself, so that neither can change without the other.
#include "tokens/CallbackSignature.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tokens/Jose.h"

namespace kelvora::tokens {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kJwtSecret = "Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7";
constexpr int64_t kTime = 1796951905;
constexpr std::string_view kEventId = "1edb99ae-e235-4a85-9fac-0afa320e8f4b";
constexpr std::string_view kOtherEventId = "0b6c3f0e-5d1a-4f57-9a43-2c6e8d9b7a15";
constexpr std::string_view kToken =
    "eyJ0eXAiOiJKV1QiLCJhbGciOiJIUzM4NCJ9.e30."
    "vpT9NPFnHPUvX3HSOV3YSTMOiL79hNWGTcsqJHAVLet6EplyTZDzoRk0naMKbYK7";
constexpr std::string_view kBody =
    R"({"type":"result","status":"approved","message":"Transa\u00E7\u00E3o TEF conclu\u00EDda com )"
    R"(sucesso.","transaction_data":[{"sale_id":4821,"operation":"debit","nsu_code":"900000001"}]})";
constexpr std::string_view kSigningSecret = "Vendas-Relatorios-2026:chave-propria-do-caixa-7";

constexpr std::string_view kDerivedKeyHex =
    "8af1b1106f50c5474b216497929a7ebb2e1ca6d4278ccb2faf673820703239d1";
constexpr std::string_view kV1 = "2fba05ddebdd35ada9717379e34c95095976fff2ecaad921ec9cb702b2a216ad";
constexpr std::string_view kV2 = "f7ca42104c8ee7d5474791e8a5379024b2ace45a7f023c56d907fce3912de38f";
constexpr std::string_view kV2OwnKey =
    "ffccb79d39e8761f0e14becc8389d182261a19a8816e42517a45677d5274ccac";
constexpr std::string_view kV2OtherEvent =
    "28db58850bb552401fc5322837eb0dc0a35b4cada77bfdc15cd1d3ee8baf82a8";

std::string Path() {
  return "/api/v1/sales/tef/callback/" + std::string(kToken);
}

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (const char byte : bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[static_cast<unsigned char>(byte) >> 4];
    hex += kDigits[static_cast<unsigned char>(byte) & 0x0f];
  }
  return hex;
}

TEST(ReportSignature, TheDocumentedInputsAreWhatTheServiceWouldSign) {
  EXPECT_EQ(kBody.size(), 182u);
  // The path's token is the one the service appends to the callback address under kJwtSecret.
  EXPECT_EQ(GenerateToken(kJwtSecret, std::nullopt), kToken);
}

TEST(ReportSignature, MatchesTheVectors) {
  const std::string derived = DeriveReportKey(kJwtSecret);
  EXPECT_EQ(derived.size(), 32u) << "the raw bytes, not their hex text";
  EXPECT_EQ(Hex(derived), kDerivedKeyHex);
  EXPECT_EQ(SignatureV1(kJwtSecret, kTime, kBody), kV1);

  const struct {
    std::string_view name;
    TReportKeys keys;
    std::string_view eventId;
    std::string header;
  } cases[] = {
      {"vector 1: the derived key",
       {std::string(kJwtSecret), derived},
       kEventId,
       "t=1796951905,v1=" + std::string(kV1) + ",v2=" + std::string(kV2)},
      {"vector 2: a signing_secret",
       {std::string(kJwtSecret), std::string(kSigningSecret)},
       kEventId,
       "t=1796951905,v1=" + std::string(kV1) + ",v2=" + std::string(kV2OwnKey)},
      {"vector 2 without v1",
       {std::nullopt, std::string(kSigningSecret)},
       kEventId,
       "t=1796951905,v2=" + std::string(kV2OwnKey)},
      {"vector 3: another event id",
       {std::string(kJwtSecret), derived},
       kOtherEventId,
       "t=1796951905,v1=" + std::string(kV1) + ",v2=" + std::string(kV2OtherEvent)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignCallback(c.keys, kTime, c.eventId, Path(), kBody), c.header) << c.name;
  }
}

// v2 changes with every part it covers; v1 only with the time and the body.
TEST(ReportSignature, V2BindsEachPartAndV1OnlyTheTimeAndTheBody) {
  const std::string key = DeriveReportKey(kJwtSecret);
  const std::string path = Path();
  const std::string v2 = SignatureV2(key, kTime, kEventId, path, kBody);
  const struct {
    std::string_view name;
    int64_t time;
    std::string_view eventId;
    std::string path;
    std::string_view body;
  } changes[] = {
      {"time", kTime + 1, kEventId, path, kBody},
      {"event id", kTime, kOtherEventId, path, kBody},
      {"path", kTime, kEventId, "/outra" + path, kBody},
      {"body", kTime, kEventId, path, kBody.substr(1)},
      // The full stops between the parts keep one part from running into the next.
      {"a full stop moved between the event id and the path", kTime,
       "1edb99ae-e235-4a85-9fac-0afa320e8f4b.", path.substr(1), kBody},
  };
  for (const auto& c : changes) {
    EXPECT_NE(SignatureV2(key, c.time, c.eventId, c.path, c.body), v2) << c.name;
  }
  EXPECT_NE(SignatureV2(kJwtSecret, kTime, kEventId, path, kBody), v2)
      << "jwt_secret is not the key";
  EXPECT_EQ(SignatureV1(kJwtSecret, kTime, kBody), kV1) << "v1 knows no event id nor path";
  // A body is signed byte for byte: a NUL and a trailing line break count.
  EXPECT_NE(SignatureV1(kJwtSecret, kTime, "{}\0"sv), SignatureV1(kJwtSecret, kTime, "{}"));
  EXPECT_NE(SignatureV1(kJwtSecret, kTime, "{}\n"), SignatureV1(kJwtSecret, kTime, "{}"));
}

TEST(ReportSignature, TheDocumentShowsTheseVectors) {
  std::ifstream file(KELVORA_SIGNATURE_VECTORS, std::ios::binary);
  ASSERT_TRUE(file) << "docs/protocol/signature-vectors.md";
  std::stringstream text;
  text << file.rdbuf();
  const std::string doc = text.str();
  const std::string derived = Hex(DeriveReportKey(kJwtSecret));
  for (const std::string_view shown :
       {kJwtSecret, "1796951905"sv, kEventId, kOtherEventId, kSigningSecret, kBody, kReportKeyLabel,
        std::string_view(derived), kV1, kV2, kV2OwnKey, kV2OtherEvent}) {
    EXPECT_NE(doc.find(shown), std::string::npos) << shown;
  }
  EXPECT_NE(doc.find("| request path | `" + Path() + "` |"), std::string::npos);
  const std::string header =
      "Kelvora-Signature: " + SignCallback({std::string(kJwtSecret), DeriveReportKey(kJwtSecret)},
                                           kTime, kEventId, Path(), kBody);
  EXPECT_NE(doc.find(header + "\n"), std::string::npos) << header;
}

}  // namespace
}  // namespace kelvora::tokens
