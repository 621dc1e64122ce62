// Money, date and modality texts of the simulated transactions.
#include "Sale.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace kelvora::sim {
namespace {

std::tm localParts(Clock::time_point t) {
  const std::time_t secs = Clock::to_time_t(t);
  std::tm parts{};
  localtime_r(&secs, &parts);
  return parts;
}

std::string format(Clock::time_point t, const char* pattern) {
  const std::tm parts = localParts(t);
  char text[32];
  const auto n = std::strftime(text, sizeof text, pattern, &parts);
  return std::string(text, n);
}

int number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

bool isLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool isDate(int y, int m, int d) {
  return y >= 1900 && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

}  // namespace

std::string modalityCode(const Sale& sale) {
  switch (sale.kind) {
    case Kind::Debit:
      return "0100";
    case Kind::Credit:
      return sale.plan == Plan::Merchant ? "0202" : sale.plan == Plan::Issuer ? "0203" : "0200";
    case Kind::Pix:
      return "9900";
    case Kind::Cancellation:
      break;
  }
  return "";
}

void applyModalityCode(Sale& sale, std::string_view code) {
  const auto means = code.substr(0, 2);
  const auto plan = code.size() >= 4 ? code.substr(2, 2) : std::string_view{};
  sale.kind = means == "01" ? Kind::Debit : means == "02" ? Kind::Credit : Kind::Pix;
  sale.plan = plan == "02" ? Plan::Merchant : plan == "03" ? Plan::Issuer : Plan::Cash;
}

std::optional<std::int64_t> parseCents(std::string_view text) {
  const auto sep = text.find_first_of(",.");
  const auto whole = text.substr(0, sep);
  const auto fraction = sep == std::string_view::npos ? std::string_view{} : text.substr(sep + 1);
  // Twelve digits of reais are far beyond any card payment and keep the sum clear of overflow.
  if (whole.empty() || whole.size() > 12 || !allDigits(whole)) return std::nullopt;
  if (sep != std::string_view::npos && (fraction.empty() || fraction.size() > 2))
    return std::nullopt;
  if (!allDigits(fraction)) return std::nullopt;
  std::int64_t cents = 0;
  for (char c : whole) cents = cents * 10 + (c - '0');
  cents *= 100;
  if (fraction.size() >= 1) cents += 10 * (fraction[0] - '0');
  if (fraction.size() == 2) cents += fraction[1] - '0';
  return cents;
}

std::string formatCents(std::int64_t cents) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld,%02lld", static_cast<long long>(cents / 100),
                static_cast<long long>(cents % 100));
  return text;
}

std::int64_t instalmentCents(std::int64_t total, int count, int index) {
  const std::int64_t part = total / count;
  return index == 1 ? part + total % count : part;
}

std::string hostDateTime(Clock::time_point t) {
  return format(t, "%Y%m%d%H%M%S");
}
std::string dayMonthYear(Clock::time_point t) {
  return format(t, "%d%m%Y");
}
std::string slashedDate(Clock::time_point t) {
  return format(t, "%d/%m/%Y");
}
std::string clockTime(Clock::time_point t) {
  return format(t, "%H:%M:%S");
}

std::optional<Clock::time_point> parseHostDateTime(std::string_view text) {
  if (text.size() != 14 || !allDigits(text) || !isDateYMD(text.substr(0, 8))) return std::nullopt;
  std::tm parts{};
  parts.tm_year = number(text.substr(0, 4)) - 1900;
  parts.tm_mon = number(text.substr(4, 2)) - 1;
  parts.tm_mday = number(text.substr(6, 2));
  parts.tm_hour = number(text.substr(8, 2));
  parts.tm_min = number(text.substr(10, 2));
  parts.tm_sec = number(text.substr(12, 2));
  parts.tm_isdst = -1;
  const std::time_t secs = std::mktime(&parts);
  if (secs == -1) return std::nullopt;
  return Clock::from_time_t(secs);
}

Clock::time_point dueDate(Clock::time_point t, int index) {
  std::tm parts = localParts(t);
  const int months = parts.tm_mon + index;
  const int year = parts.tm_year + 1900 + months / 12;
  const int month = months % 12 + 1;
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = std::min(parts.tm_mday, daysInMonth(year, month));
  parts.tm_isdst = -1;
  return Clock::from_time_t(std::mktime(&parts));
}

bool isDateYMD(std::string_view text) {
  return text.size() == 8 && allDigits(text) &&
         isDate(number(text.substr(0, 4)), number(text.substr(4, 2)), number(text.substr(6, 2)));
}

bool isDateDMY(std::string_view text) {
  return text.size() == 8 && allDigits(text) &&
         isDate(number(text.substr(4, 4)), number(text.substr(2, 2)), number(text.substr(0, 2)));
}

Card cardFor(Kind kind) {
  if (kind == Kind::Credit) return {"00002", "MASTERCARD", "545301******0021"};
  return {"00001", "VISA ELECTRON", "476173******0119"};
}

std::string authorisationCode(const Sale& sale) {
  // A fixed scramble of the NSU: looks like an issuer's code, yet is the same on every reprint.
  const long long nsu = allDigits(sale.nsu) && !sale.nsu.empty() ? std::stoll(sale.nsu) : 0;
  char text[8];
  std::snprintf(text, sizeof text, "%06lld", (nsu * 7919 + 104729) % 1000000);
  return text;
}

std::string hostNsu(const Sale& sale) {
  return "900" + sale.nsu;
}

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace kelvora::sim
