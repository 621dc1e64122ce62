// The token secret from the configuration file, checked before it replaces the built-in key.
#include "protocol/JwtSecret.h"

#include <algorithm>

#include "tokens/Secret.h"

namespace kelvora::protocol {

bool IsValidJwtSecret(std::string_view secret) {
  const auto isAlnum = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  };
  return secret.size() == 32 && std::all_of(secret.begin(), secret.end(), isAlnum);
}

TJwtSecret ReadJwtSecret(const platform::TIniFile& config) {
  const std::string configured = config.ReadString(kJwtSecretSection, kJwtSecretKey, "");
  if (configured.empty()) {
    return {TJwtSecretSource::Absent, std::string(tokens::kDefaultJwtSecret)};
  }
  if (IsValidJwtSecret(configured)) return {TJwtSecretSource::Configured, configured};
  return {TJwtSecretSource::Invalid, std::nullopt};
}

}  // namespace kelvora::protocol
