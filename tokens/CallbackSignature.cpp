// The HMAC-SHA-256 signatures of sales-API reports and the report key derived from jwt_secret.
#include "tokens/CallbackSignature.h"

#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace kelvora::tokens {
namespace {

// The raw HMAC-SHA-256 of `text` keyed with the bytes of `key`.
std::string HmacSha256(std::string_view key, std::string_view text) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac,
           &length) == nullptr) {
    throw std::runtime_error("HMAC failed");
  }
  return std::string(reinterpret_cast<const char*>(mac), length);
}

std::string LowerHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    hex += kDigits[value >> 4];
    hex += kDigits[value & 0x0f];
  }
  return hex;
}

}  // namespace

std::string DeriveReportKey(std::string_view jwtSecret) {
  return HmacSha256(jwtSecret, kReportKeyLabel);
}

std::string SignatureV1(std::string_view key, int64_t unixSeconds, std::string_view body) {
  return LowerHex(HmacSha256(key, std::to_string(unixSeconds) + "." + std::string(body)));
}

std::string SignatureV2(std::string_view key, int64_t unixSeconds, std::string_view eventId,
                        std::string_view requestPath, std::string_view body) {
  std::string signedText = std::to_string(unixSeconds);
  signedText.append(".").append(eventId).append(".").append(requestPath).append(".").append(body);
  return LowerHex(HmacSha256(key, signedText));
}

std::string SignCallback(const TReportKeys& keys, int64_t unixSeconds, std::string_view eventId,
                         std::string_view requestPath, std::string_view body) {
  std::string header = "t=" + std::to_string(unixSeconds);
  if (keys.V1) header += ",v1=" + SignatureV1(*keys.V1, unixSeconds, body);
  header += ",v2=" + SignatureV2(keys.V2, unixSeconds, eventId, requestPath, body);
  return header;
}

}  // namespace kelvora::tokens
