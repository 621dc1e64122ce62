// The HMAC-SHA-256 signature of sales-API reports.
#include "tokens/CallbackSignature.h"

#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace kelvora::tokens {

std::string SignCallback(std::string_view secret, int64_t unixSeconds, std::string_view body) {
  const std::string time = std::to_string(unixSeconds);
  const std::string signedText = time + "." + std::string(body);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
           reinterpret_cast<const unsigned char*>(signedText.data()), signedText.size(), mac,
           &length) == nullptr) {
    throw std::runtime_error("HMAC failed");
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[mac[i] >> 4];
    hex += kDigits[mac[i] & 0x0f];
  }
  return "t=" + time + ",v1=" + hex;
}

}  // namespace kelvora::tokens
