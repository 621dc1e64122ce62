// Conversions from text to numbers with the conventional rules and error texts, for handlers that
// read integers and amounts out of the text form of JSON members.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "platform/Currency.h"

namespace kelvora::protocol {

// Raised when a text is not a number of the asked kind; the message quotes the text as given.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A 32-bit integer: leading spaces, an optional sign, then decimal digits or hexadecimal digits
// after "$" or "0x"/"0X" ("-$1F" is -31). Nothing may follow the digits, not even a blank, and the
// signed value must fit in 32 bits. Otherwise throws EConvertError("'<text>' is not a valid integer
// value").
int32_t StrToInt(std::string_view text);

// A floating-point number in the pt-BR form: leading and trailing spaces, an optional sign, digits
// with the comma as the decimal separator (at least one digit, on either side of the comma) and an
// optional exponent (E or e, optional sign, digits): "12,5", "-,5", "1E3", "2,5e-2". No full stop,
// no thousand separators, no INF or NAN; a value beyond the range of a double is refused. Otherwise
// throws EConvertError("'<text>' is not a valid floating point value").
double StrToFloat(std::string_view text);

// An amount of money as StrToFloat reads it, kept to 1/10000 of the unit. Negative amounts, and
// amounts whose count of 1/10000 a double cannot hold exactly (above 900 719 925 474,0992), are
// refused like any text that is not a number, so that no amount reaches the TEF component that it
// cannot carry unchanged through its conversions.
platform::Currency StrToCurrency(std::string_view text);

}  // namespace kelvora::protocol
