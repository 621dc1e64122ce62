// The typed-card mode of the simulator: checks of the card number, expiry date and security code
// the customer types in place of inserting the card, and the card number as it may be kept.
#pragma once

#include <string>
#include <string_view>

#include "Sale.h"

namespace kelvora::sim {

// Field codes and length limits of the three questions.
inline constexpr int kFieldTypedCardNumber = 512;
inline constexpr int kFieldTypedExpiry = 513;
inline constexpr int kFieldTypedSecurityCode = 514;
inline constexpr short kCardNumberMin = 13;
inline constexpr short kCardNumberMax = 19;
inline constexpr short kExpiryLength = 4;
inline constexpr short kSecurityCodeMin = 3;
inline constexpr short kSecurityCodeMax = 4;

// 13 to 19 digits whose Luhn check digit is right, as every card number has.
bool isCardNumber(std::string_view text);

// "MMAA": a month 01 to 12 of a year 20AA, not before the month of `now` (local time).
bool isExpiry(std::string_view text, Clock::time_point now);

// 3 or 4 digits.
bool isSecurityCode(std::string_view text);

// The card number as the library reports and keeps it: the first 6 and the last 4 digits, every
// other one as '*'. The simulated server keeps nothing more of a typed card.
std::string maskCardNumber(std::string_view number);

}  // namespace kelvora::sim
