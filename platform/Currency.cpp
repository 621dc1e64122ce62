// Rounding rules of the currency value.
#include "platform/Currency.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/FormatSettings.h"

namespace kelvora::platform {

Currency Currency::FromDouble(double value) {
  // nearbyint follows the default rounding mode, which is to nearest with ties to even.
  return Currency(static_cast<int64_t>(std::nearbyint(value * 10000.0)));
}

int64_t Currency::ToCents() const {
  int64_t quotient = raw_ / 100;
  const int64_t remainder = raw_ % 100;  // same sign as raw_
  const int64_t magnitude = std::llabs(remainder);
  const int64_t step = raw_ < 0 ? -1 : 1;
  if (magnitude > 50 || (magnitude == 50 && quotient % 2 != 0)) quotient += step;
  return quotient;
}

int64_t Currency::RoundedCents() const {
  int64_t quotient = raw_ / 100;
  const int64_t remainder = raw_ % 100;  // same sign as raw_
  if (remainder >= 50) ++quotient;
  if (remainder <= -50) --quotient;
  return quotient;
}

std::string Currency::ToText2() const {
  const int64_t cents = RoundedCents();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s%lld%c%02lld", cents < 0 ? "-" : "",
                static_cast<long long>(std::llabs(cents) / 100), PtBR().DecimalSeparator,
                static_cast<long long>(std::llabs(cents) % 100));
  return buffer;
}

int64_t RoundHalfAwayFromZero(double value) { return std::llround(value); }

}  // namespace kelvora::platform
