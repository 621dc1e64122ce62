// The secret that signs and verifies the service's tokens (the installation's own key from the
// configuration file when it sets one, the built-in key when it sets none, and no key at all when
// it sets one that cannot be used), and the keys that sign its reports to the sales API.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"
#include "tokens/CallbackSignature.h"

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
// Logged at every start when the configured key is the built-in one written out: it is public
// (the same in every copy), so it protects nothing that the built-in key does not.
inline constexpr std::string_view kJwtSecretBuiltinConfiguredLog =
    "Aviso: a chave jwt_secret da seção security é a chave padrão, a mesma em todas as cópias do "
    "programa: qualquer um pode assinar tokens e registros de transação para este caixa. "
    "Configure uma chave própria.";
inline constexpr std::string_view kJwtSecretDefaultStartLog =
    "Chave jwt_secret da seção security não configurada: usando a chave padrão, com a qual "
    "qualquer cópia do programa pode assinar tokens para este caixa.";
// Logged at the service start, after the line above: a report signed with a key every copy of the
// program has proves nothing, so none is sent while it is in use.
inline constexpr std::string_view kJwtSecretDefaultSignatureLog =
    "Os registros de transação não são enviados à API enquanto a chave padrão estiver em uso: "
    "ficam guardados e serão enviados quando jwt_secret for configurada na seção security.";
// Logged when a sales-API report cannot be signed because the configured key is not usable.
inline constexpr std::string_view kJwtSecretReportLog =
    "Chave jwt_secret da seção security inválida: o registro da transação fica guardado e será "
    "enviado à API quando a chave for corrigida.";

// Where the report-signing settings live; read at every report, as the other [sales_api] settings.
inline constexpr std::string_view kSalesApiSection = "sales_api";
// The report key of an installation that sets one apart from jwt_secret.
inline constexpr std::string_view kSigningSecretKey = "signing_secret";
// 0 leaves v1 out of Kelvora-Signature, once every receiver verifies v2.
inline constexpr std::string_view kSignatureV1Key = "signature_v1";
// The length a signing_secret may have: no shorter than jwt_secret, and short enough that the
// configuration file's line (199 bytes at most, the rest read as another line) keeps it whole.
inline constexpr size_t kSigningSecretMinLength = 32;
inline constexpr size_t kSigningSecretMaxLength = 128;

// Logged when a sales-API report cannot be signed because signing_secret is not usable.
inline constexpr std::string_view kSigningSecretReportLog =
    "Chave signing_secret da seção sales_api inválida (são exigidos de 32 a 128 caracteres ASCII "
    "visíveis): o registro da transação fica guardado e será enviado à API quando a chave for "
    "corrigida.";

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

// True for kSigningSecretMinLength to kSigningSecretMaxLength visible ASCII characters (no blanks,
// which the configuration file could not keep as they are).
bool IsValidSigningSecret(std::string_view secret);

// How the next report is signed, or why it waits.
struct TReportSigning {
  // The keys; nullopt while reports are held, in the outbox, until the configuration is corrected.
  std::optional<tokens::TReportKeys> Keys;
  // Why they are held, for the log; empty when the service's start lines have said it already.
  std::string_view HoldLog;
};

// The keys of a report under the configuration as it stands: v1 with jwt_secret itself, as
// receivers that predate v2 verify it, unless [sales_api] signature_v1 is 0; v2 with [sales_api]
// signing_secret when it is set, else with the key derived from jwt_secret
// (tokens::DeriveReportKey). Reports are held while the built-in key is in use (anyone could sign
// them), and while jwt_secret or signing_secret is invalid.
TReportSigning ReadReportSigning(const platform::TIniFile& config, const TJwtSecret& secret);

}  // namespace kelvora::protocol
