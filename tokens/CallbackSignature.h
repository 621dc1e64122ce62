// The signature of a sales-API report: lets the sales API check that a report comes from a holder
// of the installation's key, was not altered, was meant for this event id and this address, and
// was not posted again long after, whoever saw the callback address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::tokens {

// The header that carries the signature, and the one that names the report for de-duplication.
inline constexpr std::string_view kSignatureHeader = "Kelvora-Signature";
inline constexpr std::string_view kEventIdHeader = "Kelvora-Event-Id";

// The text whose HMAC under jwt_secret is the report key of an installation that sets no
// signing_secret of its own. A key made for this one purpose lets a sales system verify reports
// without holding jwt_secret, which mints session tokens.
inline constexpr std::string_view kReportKeyLabel = "kelvora sales-api report signature v2";

// The report key derived from jwt_secret: the raw 32 bytes of HMAC-SHA-256, keyed with the UTF-8
// bytes of `jwtSecret`, of kReportKeyLabel. The bytes themselves are the key, not their hex form.
std::string DeriveReportKey(std::string_view jwtSecret);

// The lower-case hex HMAC-SHA-256 of "<unixSeconds>.<body>" keyed with the bytes of `key`: the v1
// signature, which binds the time and the exact body but not the event id nor the address.
std::string SignatureV1(std::string_view key, int64_t unixSeconds, std::string_view body);

// The lower-case hex HMAC-SHA-256 of "<unixSeconds>.<eventId>.<requestPath>.<body>" keyed with the
// bytes of `key`: the v2 signature. A copy of a report posted again under a new event id, or to
// another address, no longer matches it. requestPath is the path of the address the report is
// posted to, as sent (no scheme, host or query).
std::string SignatureV2(std::string_view key, int64_t unixSeconds, std::string_view eventId,
                        std::string_view requestPath, std::string_view body);

// The keys a report is signed with: V1 the installation's jwt_secret (nullopt when the
// installation dropped v1), V2 the report key.
struct TReportKeys {
  std::optional<std::string> V1;
  std::string V2;
};

// The value of kSignatureHeader: "t=<unixSeconds>,v1=<hex>,v2=<hex>", or "t=<unixSeconds>,v2=<hex>"
// without a v1 key. The body is the exact byte sequence sent, so the receiver must check it before
// parsing; the time is signed with it so an old report cannot be posted again as new.
std::string SignCallback(const TReportKeys& keys, int64_t unixSeconds, std::string_view eventId,
                         std::string_view requestPath, std::string_view body);

}  // namespace kelvora::tokens
