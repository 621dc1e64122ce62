// Text-to-number conversions with the conventional rules and the system's error texts.
#include "protocol/Convert.h"

#include <charconv>
#include <cmath>
#include <string>

#include "platform/FormatSettings.h"

namespace kelvora::protocol {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Value of one hexadecimal digit, or -1.
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void InvalidInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

}  // namespace

int32_t StrToInt(std::string_view text) {
  std::string_view rest = text;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  int base = 10;
  if (!rest.empty() && rest.front() == '$') {
    base = 16;
    rest.remove_prefix(1);
  } else if (rest.size() > 1 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    base = 16;
    rest.remove_prefix(2);
  }
  if (rest.empty()) InvalidInteger(text);
  // The magnitude is bounded while it is read, so no digit count can overflow it.
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t magnitude = 0;
  for (char c : rest) {
    const int digit = base == 16 ? HexValue(c) : (IsDigit(c) ? c - '0' : -1);
    if (digit < 0) InvalidInteger(text);
    magnitude = magnitude * base + digit;
    if (magnitude > limit) InvalidInteger(text);
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

double StrToFloat(std::string_view text) {
  std::string_view rest = text;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);

  // Rebuilt in the invariant form that std::from_chars reads, whatever the process locale is.
  std::string invariant;
  std::size_t i = 0;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
    if (rest[i] == '-') invariant += '-';
    ++i;
  }
  bool anyDigit = false;
  while (i < rest.size() && IsDigit(rest[i])) {
    invariant += rest[i++];
    anyDigit = true;
  }
  if (i < rest.size() && rest[i] == platform::PtBR().DecimalSeparator) {
    invariant += '.';
    ++i;
    while (i < rest.size() && IsDigit(rest[i])) {
      invariant += rest[i++];
      anyDigit = true;
    }
  }
  if (!anyDigit) InvalidFloat(text);
  if (i < rest.size() && (rest[i] == 'E' || rest[i] == 'e')) {
    invariant += 'e';
    ++i;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) invariant += rest[i++];
    bool exponentDigit = false;
    while (i < rest.size() && IsDigit(rest[i])) {
      invariant += rest[i++];
      exponentDigit = true;
    }
    if (!exponentDigit) InvalidFloat(text);
  }
  if (i != rest.size()) InvalidFloat(text);

  double value = 0;
  const auto result = std::from_chars(invariant.data(), invariant.data() + invariant.size(), value);
  if (result.ec != std::errc() || result.ptr != invariant.data() + invariant.size() ||
      !std::isfinite(value))
    InvalidFloat(text);
  return value;
}

platform::Currency StrToCurrency(std::string_view text) {
  // 2^53: every count of 1/10000 up to it is an exact double, so the amount survives the
  // component's conversions between doubles and currency without rounding or overflow.
  constexpr double kMaxRaw = 9007199254740992.0;
  const double value = StrToFloat(text);
  const double raw = value * 10000.0;
  if (!(raw >= 0) || raw > kMaxRaw) InvalidFloat(text);
  return platform::Currency::FromDouble(value);
}

}  // namespace kelvora::protocol
