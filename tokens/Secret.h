// The key that signs and verifies the service's tokens when the installation sets none.
#pragma once

#include <string_view>

namespace kelvora::tokens {

// 32 ASCII letters and digits whose UTF-8 bytes are the HMAC key of session tokens and of the
// sales-API callback token. The sales system that mints session tokens must share it. An
// installation replaces it with the key "jwt_secret" of the section "security" of its
// configuration file.
inline constexpr std::string_view kDefaultJwtSecret = "C7Wvvi7x4WTLZzwBQnB5thxer4DRFORi";

}  // namespace kelvora::tokens
