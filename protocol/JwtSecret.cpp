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

std::string ReadJwtSecret(const platform::TIniFile& config,
                          const std::function<void(std::string_view)>& report) {
  const std::string configured = config.ReadString(kJwtSecretSection, kJwtSecretKey, "");
  if (IsValidJwtSecret(configured)) return configured;
  if (!configured.empty() && report) report(kJwtSecretIgnoredLog);
  return std::string(tokens::kDefaultJwtSecret);
}

}  // namespace kelvora::protocol
