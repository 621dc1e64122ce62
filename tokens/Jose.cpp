// Verification and signing of compact HMAC tokens.
#include "tokens/Jose.h"

#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "tokens/Base64Url.h"

namespace kelvora::tokens {
namespace {

using protocol::Json;

const EVP_MD* Digest(TJOSEAlgorithm algorithm) {
  switch (algorithm) {
    case TJOSEAlgorithm::HS256:
      return EVP_sha256();
    case TJOSEAlgorithm::HS384:
      return EVP_sha384();
    case TJOSEAlgorithm::HS512:
      return EVP_sha512();
  }
  throw std::invalid_argument("unknown token algorithm");
}

// The base64url form of the HMAC of `signingInput`, which is the signature segment.
std::string Signature(const TJWK& key, TJOSEAlgorithm algorithm, std::string_view signingInput) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(Digest(algorithm), key.Key.data(), static_cast<int>(key.Key.size()),
           reinterpret_cast<const unsigned char*>(signingInput.data()), signingInput.size(), mac,
           &length) == nullptr)
    throw std::runtime_error("HMAC failed");
  return Base64UrlEncode(std::string_view(reinterpret_cast<const char*>(mac), length));
}

// Replaces `target` with the object a header or payload segment carries. A segment that is not
// base64url or not JSON leaves `target` as it is; false when it carries JSON that is not an object.
bool ReadSegment(std::string_view segment, Json& target) {
  const auto bytes = Base64UrlDecode(segment);
  if (!bytes) return true;
  auto parsed = protocol::ParseJson(*bytes);
  if (!parsed) return true;
  if (!parsed->is_object()) return false;
  target = std::move(*parsed);
  return true;
}

}  // namespace

std::optional<TJOSEAlgorithm> AlgorithmFromName(std::string_view name) {
  if (name == "HS256") return TJOSEAlgorithm::HS256;
  if (name == "HS384") return TJOSEAlgorithm::HS384;
  if (name == "HS512") return TJOSEAlgorithm::HS512;
  return std::nullopt;
}

std::string_view AlgorithmName(TJOSEAlgorithm algorithm) {
  switch (algorithm) {
    case TJOSEAlgorithm::HS256:
      return "HS256";
    case TJOSEAlgorithm::HS384:
      return "HS384";
    case TJOSEAlgorithm::HS512:
      return "HS512";
  }
  throw std::invalid_argument("unknown token algorithm");
}

std::unique_ptr<TJWT> TJOSE::Verify(const TJWK& key, std::string_view compactToken) noexcept {
  try {
    const auto firstDot = compactToken.find('.');
    if (firstDot == std::string_view::npos) return nullptr;
    const auto secondDot = compactToken.find('.', firstDot + 1);
    if (secondDot == std::string_view::npos ||
        compactToken.find('.', secondDot + 1) != std::string_view::npos)
      return nullptr;
    const auto header = compactToken.substr(0, firstDot);
    const auto payload = compactToken.substr(firstDot + 1, secondDot - firstDot - 1);
    const auto signature = compactToken.substr(secondDot + 1);

    auto token = std::make_unique<TJWT>();
    if (!ReadSegment(header, token->Header) || !ReadSegment(payload, token->Claims)) return nullptr;

    const auto alg = token->Header.find("alg");
    if (alg == token->Header.end()) return nullptr;
    const auto algorithm = AlgorithmFromName(protocol::ValueAsText(*alg));
    if (!algorithm) return nullptr;

    const std::string expected = Signature(key, *algorithm, compactToken.substr(0, secondDot));
    // Same outcome as a plain comparison; the time taken does not depend on where they differ.
    token->Verified = expected.size() == signature.size() &&
                      CRYPTO_memcmp(expected.data(), signature.data(), expected.size()) == 0;
    return token;
  } catch (...) {
    return nullptr;
  }
}

std::string SignToken(const TJWK& key, TJOSEAlgorithm algorithm, const TJWT& token) {
  if (!token.Header.is_object() || !token.Claims.is_object())
    throw std::invalid_argument("token header and claims must be JSON objects");
  Json header = token.Header;
  header["alg"] = AlgorithmName(algorithm);
  std::string compact = Base64UrlEncode(protocol::WriteJson(header));
  compact += '.';
  compact += Base64UrlEncode(protocol::WriteJson(token.Claims));
  const std::string signature = Signature(key, algorithm, compact);
  compact += '.';
  compact += signature;
  return compact;
}

std::string GenerateToken(std::string_view secret, const std::optional<protocol::Json>& claims) {
  TJWT token;
  if (claims) token.Claims = *claims;
  return SignToken(TJWK(secret), TJOSEAlgorithm::HS384, token);
}

TJWTTimeCheck CheckTimeClaims(const protocol::Json& claims,
                              std::chrono::system_clock::time_point now) {
  if (!claims.is_object()) return TJWTTimeCheck::Malformed;
  const double seconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  const auto exp = claims.find("exp");
  const auto nbf = claims.find("nbf");
  if ((exp != claims.end() && !exp->is_number()) || (nbf != claims.end() && !nbf->is_number())) {
    return TJWTTimeCheck::Malformed;
  }
  // Compared as doubles: a claim far beyond any time_point's range stays an ordinary number.
  if (exp != claims.end() && seconds >= exp->get<double>()) return TJWTTimeCheck::Expired;
  if (nbf != claims.end() && seconds < nbf->get<double>()) return TJWTTimeCheck::NotYetValid;
  return TJWTTimeCheck::Valid;
}

}  // namespace kelvora::tokens
