// The service's JSON helpers: reading client JSON with the protocol's rules and writing it back
// in the service's own compact form with its exact escaping.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kelvora::protocol {

// The object model: members keep the order in which they were added or read.
using Json = nlohmann::ordered_json;

// Deepest nesting of arrays and objects that ParseJson accepts; a 513th level inside the others is
// refused, so hostile input cannot make later recursive readers exhaust the stack.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Raised by GetRequiredField when the member is absent.
class EJsonFieldMissing : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a whole JSON text (UTF-8). Returns nullopt when the text is not valid JSON, which here
// also covers invalid UTF-8, trailing garbage and nesting deeper than kMaxJsonDepth. When a member
// name occurs twice in one object the FIRST occurrence is kept and the later ones are dropped, at
// every depth.
std::optional<Json> ParseJson(std::string_view text);

// Writes a value compactly: no blanks, members in their order, strings escaped as the clients
// expect: \" \\ \/ \b \t \n \f \r, and every other UTF-16 code unit below U+0020 or above U+007F
// as \u with four upper-case hex digits (characters beyond U+FFFF as their two surrogates).
// A byte of a string that does not begin a well-formed UTF-8 sequence is written as \uFFFD, one
// per byte. Integers are written as plain digits; floating-point values in the shortest form that
// reads back to the same double, with '.' and JavaScript's choice between plain and exponent
// notation (100.0 -> 100, 10.5 -> 10.5, 1e21 -> 1e+21); NaN and infinities, which JSON cannot
// carry, as null. Throws std::invalid_argument for a binary or discarded value.
std::string WriteJson(const Json& value);

// The text form of a member value: a string gives its content, an integer its plain digits, a
// number with a fraction the pt-BR general format (comma separator, at most 15 significant digits,
// exponent form "1E20" / "1,5E-7" when the decimal exponent is above 15 or below -4), true and
// false "true" and "false", null "null", an object or array empty text.
std::string ValueAsText(const Json& value);

// The text form of a required member; throws EJsonFieldMissing("Campo <name> nao encontrado.")
// when it is absent or when `object` is not an object at all.
std::string GetRequiredField(const Json& object, std::string_view name);

}  // namespace kelvora::protocol
