// The signature of a sales-API report: lets the sales API check that a report comes from a holder
// of the installation's key and was not altered or replayed long after, whoever saw the callback
// address.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora::tokens {

// The header that carries the signature, and the one that names the report for de-duplication.
inline constexpr std::string_view kSignatureHeader = "Kelvora-Signature";
inline constexpr std::string_view kEventIdHeader = "Kelvora-Event-Id";

// "t=<unixSeconds>,v1=<hex>": the lower-case hex HMAC-SHA-256 of "<unixSeconds>.<body>" keyed with
// the UTF-8 bytes of `secret`. The body is the exact byte sequence sent, so the receiver must
// check it before parsing; the time is signed with it so an old report cannot be posted again
// as new.
std::string SignCallback(std::string_view secret, int64_t unixSeconds, std::string_view body);

}  // namespace kelvora::tokens
