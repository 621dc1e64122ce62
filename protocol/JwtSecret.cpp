// The token secret from the configuration file, checked before it replaces the built-in key, and
// the report keys that follow from it.
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

bool IsValidSigningSecret(std::string_view secret) {
  const auto isVisible = [](char c) { return c > ' ' && c <= '~'; };
  return secret.size() >= kSigningSecretMinLength && secret.size() <= kSigningSecretMaxLength &&
         std::all_of(secret.begin(), secret.end(), isVisible);
}

TReportSigning ReadReportSigning(const platform::TIniFile& config, const TJwtSecret& secret) {
  switch (secret.Source) {
    case TJwtSecretSource::Invalid:
      return {std::nullopt, kJwtSecretReportLog};
    case TJwtSecretSource::Absent:
      // The start lines say why (kJwtSecretDefaultSignatureLog); the outbox's retries add nothing.
      return {std::nullopt, {}};
    case TJwtSecretSource::Configured:
      break;
  }
  tokens::TReportKeys keys;
  const std::string own = config.ReadString(kSalesApiSection, kSigningSecretKey, "");
  if (own.empty()) {
    keys.V2 = tokens::DeriveReportKey(*secret.Key);
  } else if (IsValidSigningSecret(own)) {
    keys.V2 = own;
  } else {
    return {std::nullopt, kSigningSecretReportLog};
  }
  if (config.ReadBool(kSalesApiSection, kSignatureV1Key, true)) keys.V1 = *secret.Key;
  return {std::move(keys), {}};
}

}  // namespace kelvora::protocol
