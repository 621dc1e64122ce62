// The secret that signs and verifies the service's tokens: the installation's own key from the
// configuration file when it sets one, the built-in key when it sets none, and no key at all when
// it sets one that cannot be used.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace kelvora::protocol {

// Where the installation's key lives in the configuration file.
inline constexpr std::string_view kJwtSecretSection = "security";
inline constexpr std::string_view kJwtSecretKey = "jwt_secret";

// Logged when a session start is refused because the configured key is not usable.
inline constexpr std::string_view kJwtSecretInvalidLog =
    "Chave jwt_secret da seção security inválida (são exigidas 32 letras ou dígitos ASCII): "
    "abertura de sessão recusada.";
// Logged at the service start when the configured key is not usable.
inline constexpr std::string_view kJwtSecretInvalidStartLog =
    "Chave jwt_secret da seção security inválida (são exigidas 32 letras ou dígitos ASCII): "
    "toda abertura de sessão será recusada até que seja corrigida.";
// Logged at the service start when no key is configured.
inline constexpr std::string_view kJwtSecretDefaultStartLog =
    "Chave jwt_secret da seção security não configurada: usando a chave padrão, com a qual "
    "qualquer cópia do programa pode assinar tokens para este caixa.";
// Logged at the service start, after the line above: the reports' signature is made with the same
// built-in key, so it shows nothing of where a report came from.
inline constexpr std::string_view kJwtSecretDefaultSignatureLog =
    "Os registros de transação enviados à API são assinados (Kelvora-Signature) com a chave "
    "padrão: a assinatura não prova que vieram deste caixa.";
// Logged when a sales-API report cannot be signed because the configured key is not usable.
inline constexpr std::string_view kJwtSecretReportLog =
    "Chave jwt_secret da seção security inválida: o registro da transação fica guardado e será "
    "enviado à API quando a chave for corrigida.";

// True for exactly 32 ASCII letters and digits, the form every key of the service has.
bool IsValidJwtSecret(std::string_view secret);

// What [security] jwt_secret holds: Configured (a usable key), Absent (missing or empty: the
// built-in key is used), or Invalid (anything else).
enum class TJwtSecretSource { Configured, Absent, Invalid };

struct TJwtSecret {
  TJwtSecretSource Source = TJwtSecretSource::Absent;
  // The key to use; nullopt when the configured one is invalid. A misconfigured installation
  // never falls back to the built-in key: that key is the same in every copy of the program, so
  // the fallback would let anyone sign tokens for a till whose owner believes it has its own.
  std::optional<std::string> Key;
};

// The key of [security] jwt_secret, read from the file at this call so an edit takes effect at the
// next token verified or issued.
TJwtSecret ReadJwtSecret(const platform::TIniFile& config);

}  // namespace kelvora::protocol
