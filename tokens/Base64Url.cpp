// base64url on top of OpenSSL's standard base64 blocks.
#include "tokens/Base64Url.h"

#include <algorithm>

#include <openssl/evp.h>

namespace kelvora::tokens {
namespace {

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

}  // namespace

std::string Base64UrlEncode(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(length));
  while (!text.empty() && text.back() == '=') text.pop_back();
  std::replace(text.begin(), text.end(), '+', '-');
  std::replace(text.begin(), text.end(), '/', '_');
  return text;
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
  std::string standard(text);
  while (standard.size() % 4 != 0) standard += '=';
  std::replace(standard.begin(), standard.end(), '-', '+');
  std::replace(standard.begin(), standard.end(), '_', '/');

  // OpenSSL's block decoder trims blanks and does not say how much padding it met, so the text is
  // checked here first: only alphabet characters, then at most two "=" at the very end.
  std::size_t padding = 0;
  while (padding < standard.size() && standard[standard.size() - 1 - padding] == '=') ++padding;
  if (padding > 2) return std::nullopt;
  if (!std::all_of(standard.begin(), standard.end() - static_cast<std::ptrdiff_t>(padding),
                   IsBase64Char))
    return std::nullopt;

  std::string bytes(standard.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                     reinterpret_cast<const unsigned char*>(standard.data()),
                                     static_cast<int>(standard.size()));
  if (length < 0) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(length) - padding);
  return bytes;
}

}  // namespace kelvora::tokens
