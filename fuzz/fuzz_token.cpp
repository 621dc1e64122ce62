// Fuzz target of session-token verification: arbitrary text through TJOSE::Verify, which must
// never throw; and claims taken from the input signed and verified back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "fuzz/JsonEquivalence.h"
#include "protocol/Json.h"
#include "tokens/Base64Url.h"
#include "tokens/Jose.h"
#include "tokens/Secret.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  using tokens::TJOSE;
  const std::string_view text = fuzz::AsText(data, size);
  const tokens::TJWK key(tokens::kDefaultJwtSecret);

  // Verify is noexcept: an exception escaping it ends the process, which libFuzzer reports.
  if (const auto token = TJOSE::Verify(key, text)) {
    Require(token->Header.is_object() && token->Claims.is_object(),
            "a token's header and claims are objects");
    Require(tokens::AlgorithmFromName(protocol::ValueAsText(token->Header.at("alg"))).has_value(),
            "a token is returned only with an HMAC algorithm");
  }

  Require(tokens::Base64UrlDecode(tokens::Base64UrlEncode(text)) == std::string(text),
          "base64url decoding reverses the encoding");

  // Claims from the input: what the service signs, it verifies, and only under its own key.
  const auto claims = protocol::ParseJson(text);
  if (!claims || !claims->is_object()) return 0;
  for (const auto algorithm : {tokens::TJOSEAlgorithm::HS256, tokens::TJOSEAlgorithm::HS384,
                               tokens::TJOSEAlgorithm::HS512}) {
    tokens::TJWT token;
    token.Claims = *claims;
    const std::string compact = tokens::SignToken(key, algorithm, token);
    const auto verified = TJOSE::Verify(key, compact);
    Require(verified && verified->Verified, "a signed token verifies under its key");
    Require(verified->Claims == fuzz::Carried(*claims), "the claims read back as signed");
    Require(verified->Header.at("alg") == std::string(tokens::AlgorithmName(algorithm)),
            "the header names the algorithm");
    const auto forged = TJOSE::Verify(tokens::TJWK("another key"), compact);
    Require(forged && !forged->Verified, "a token does not verify under another key");
  }
  return 0;
}
