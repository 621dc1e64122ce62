// JSON Web Tokens in the compact JWS form signed with HMAC-SHA-2: the session tokens the service
// verifies and the callback token it issues for the sales API.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/Json.h"

namespace kelvora::tokens {

// A symmetric key: raw bytes, taken as they are (no minimum length is demanded).
struct TJWK {
  explicit TJWK(std::string_view key) : Key(key) {}
  std::string Key;
};

// A token: its header and claims objects and whether a signature check succeeded.
struct TJWT {
  protocol::Json Header = protocol::Json::object({{"typ", "JWT"}});
  protocol::Json Claims = protocol::Json::object();
  bool Verified = false;
};

// The signing algorithms a symmetric key can serve, named by the header member "alg".
enum class TJOSEAlgorithm { HS256, HS384, HS512 };

// "HS256", "HS384" or "HS512" (exact, case-sensitive); nullopt for every other name.
std::optional<TJOSEAlgorithm> AlgorithmFromName(std::string_view name);
std::string_view AlgorithmName(TJOSEAlgorithm algorithm);

// What the registered time claims say of a token at a given moment.
enum class TJWTTimeCheck {
  Valid,        // no "exp" nor "nbf", or the moment lies between them
  Expired,      // "exp" is at or before the moment
  NotYetValid,  // "nbf" is after the moment
  Malformed,    // "exp" or "nbf" is there but is not a JSON number
};

// Checks "exp" and "nbf" (seconds since 1970-01-01 UTC, fractions allowed) of `claims` against
// `now`, without leeway. A token that carries neither stays usable for as long as its signature
// matches; one whose time claims cannot be read is refused rather than taken as timeless.
TJWTTimeCheck CheckTimeClaims(const protocol::Json& claims,
                              std::chrono::system_clock::time_point now);

class TJOSE {
 public:
  // Takes a compact token apart and checks its signature with `key`. Returns nothing when the text
  // does not have exactly three segments, when a segment holds JSON that is not an object, or when
  // the header's "alg" is missing, empty or not one of the HMAC names. Otherwise returns the token
  // with the decoded header and claims (a segment that is not base64url JSON leaves the default)
  // and Verified telling whether the signature segment equals, byte for byte, the HMAC of the
  // first two segments as received. Claims such as "exp" are not examined. Never throws.
  static std::unique_ptr<TJWT> Verify(const TJWK& key, std::string_view compactToken) noexcept;
};

// The compact text of `token` signed with `key`: the header gets "alg" set to the algorithm's name
// (in place when it is there, appended otherwise), header and claims are written with the
// service's compact writer, and the HMAC covers the two base64url segments joined by a full stop.
// Throws std::invalid_argument when the header or the claims are not JSON objects.
std::string SignToken(const TJWK& key, TJOSEAlgorithm algorithm, const TJWT& token);

// The callback token for the sales API: a new token, with `claims` (an object) in place of the
// empty claims when given, signed with HMAC-SHA-384 under the UTF-8 bytes of `secret`. The header
// is {"typ":"JWT","alg":"HS384"}, so the same secret and claims always give the same text.
std::string GenerateToken(std::string_view secret, const std::optional<protocol::Json>& claims);

}  // namespace kelvora::tokens
