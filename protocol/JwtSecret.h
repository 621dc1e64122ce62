// The secret that signs and verifies the service's tokens: the installation's own key from the
// configuration file when it sets a usable one, the built-in key otherwise.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace kelvora::protocol {

// Where the installation's key lives in the configuration file.
inline constexpr std::string_view kJwtSecretSection = "security";
inline constexpr std::string_view kJwtSecretKey = "jwt_secret";

// The line logged when the configured key is not usable and the built-in one is taken instead.
inline constexpr std::string_view kJwtSecretIgnoredLog =
    "Chave jwt_secret da seção security inválida (são exigidas 32 letras ou dígitos ASCII); "
    "usando a chave padrão.";

// True for exactly 32 ASCII letters and digits, the form every key of the service has.
bool IsValidJwtSecret(std::string_view secret);

// The key of [security] jwt_secret, read from the file at this call so an edit takes effect at the
// next token verified or issued. A missing or empty value gives the built-in key silently; any
// other value that is not 32 ASCII letters and digits gives the built-in key and is reported
// through `report` with kJwtSecretIgnoredLog, so the installation learns its key is not in use.
std::string ReadJwtSecret(const platform::TIniFile& config,
                          const std::function<void(std::string_view)>& report);

}  // namespace kelvora::protocol
