// Checks and masking of a typed card.
#include "TypedCard.h"

#include <ctime>

namespace kelvora::sim {

bool isCardNumber(std::string_view text) {
  if (text.size() < static_cast<size_t>(kCardNumberMin) ||
      text.size() > static_cast<size_t>(kCardNumberMax) || !allDigits(text)) {
    return false;
  }
  // Luhn: from the right, every second digit doubled (less 9 above 9); the sum ends in 0.
  int sum = 0;
  bool doubled = false;
  for (auto digit = text.rbegin(); digit != text.rend(); ++digit) {
    int value = *digit - '0';
    if (doubled) value = value * 2 > 9 ? value * 2 - 9 : value * 2;
    sum += value;
    doubled = !doubled;
  }
  return sum % 10 == 0;
}

bool isExpiry(std::string_view text, Clock::time_point now) {
  if (text.size() != static_cast<size_t>(kExpiryLength) || !allDigits(text)) return false;
  const int month = (text[0] - '0') * 10 + (text[1] - '0');
  const int year = 2000 + (text[2] - '0') * 10 + (text[3] - '0');
  if (month < 1 || month > 12) return false;
  const std::time_t seconds = Clock::to_time_t(now);
  std::tm today{};
  localtime_r(&seconds, &today);
  return year * 12 + month >= (today.tm_year + 1900) * 12 + today.tm_mon + 1;
}

bool isSecurityCode(std::string_view text) {
  return text.size() >= static_cast<size_t>(kSecurityCodeMin) &&
         text.size() <= static_cast<size_t>(kSecurityCodeMax) && allDigits(text);
}

std::string maskCardNumber(std::string_view number) {
  std::string masked(number);
  for (size_t i = 6; i + 4 < masked.size(); ++i) masked[i] = '*';
  return masked;
}

}  // namespace kelvora::sim
