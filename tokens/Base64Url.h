// base64url coding of token segments: the URL-safe alphabet, no padding, no line breaks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvora::tokens {

// Standard base64 of the bytes with the padding dropped and "+" "/" turned into "-" "_".
std::string Base64UrlEncode(std::string_view bytes);

// The bytes of a base64url text: "=" is appended up to a multiple of four characters, "-" and "_"
// become "+" and "/", and the result is read as standard base64. Returns nullopt when that is not
// valid standard base64 (a character outside the alphabet, a blank, a length of 4n+1, "=" anywhere
// but in the last two places). As a consequence "+", "/" and correct padding are read too.
std::optional<std::string> Base64UrlDecode(std::string_view text);

}  // namespace kelvora::tokens
