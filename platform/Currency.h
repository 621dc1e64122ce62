// Money as a signed 64-bit count of 1/10000 of the currency unit, with the rounding rules the
// TEF records and the library's amount texts rely on.
#pragma once

#include <cstdint>
#include <string>

namespace kelvora::platform {

class Currency {
 public:
  constexpr Currency() = default;

  // From the raw count of 1/10000 units.
  static constexpr Currency FromRaw(int64_t raw) { return Currency(raw); }
  // From a double: value × 10000 rounded to the nearest integer, ties to even.
  static Currency FromDouble(double value);
  // From whole cents (exact).
  static constexpr Currency FromCents(int64_t cents) { return Currency(cents * 100); }

  constexpr int64_t Raw() const { return raw_; }
  double ToDouble() const { return static_cast<double>(raw_) / 10000.0; }
  // Whole cents, the hundredths rounded to the nearest integer, ties to even: the rule of the
  // balances of a sale.
  int64_t ToCents() const;
  // Whole cents, half a cent rounded away from zero: the one rule for an amount that is charged,
  // recorded and reported, so that the library, the record and the report name the same cents.
  int64_t RoundedCents() const;
  // Text with two decimals and the pt-BR comma, as the library takes amounts ("1234,50"); the
  // cents are RoundedCents ("10,125" is "10,13").
  std::string ToText2() const;

  friend constexpr bool operator==(Currency, Currency) = default;
  friend constexpr auto operator<=>(Currency, Currency) = default;
  friend constexpr Currency operator+(Currency a, Currency b) { return Currency(a.raw_ + b.raw_); }
  friend constexpr Currency operator-(Currency a, Currency b) { return Currency(a.raw_ - b.raw_); }
  constexpr Currency& operator+=(Currency other) {
    raw_ += other.raw_;
    return *this;
  }

 private:
  constexpr explicit Currency(int64_t raw) : raw_(raw) {}
  int64_t raw_ = 0;
};

// Rounds to the nearest integer, halves away from zero (12.345 * 100 -> 1235 style rounding).
int64_t RoundHalfAwayFromZero(double value);

}  // namespace kelvora::platform
