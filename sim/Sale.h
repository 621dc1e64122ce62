// One transaction as the simulated SiTef server authorises it, with the money and date texts it
// uses.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::sim {

using Clock = std::chrono::system_clock;

enum class Kind { Debit, Credit, Pix, Cancellation };

// Who finances a credit payment: paid at once, in instalments financed by the merchant
// ("Parcelado pelo Estabelecimento") or by the card issuer ("Parcelado pela Administradora").
enum class Plan { Cash, Merchant, Issuer };

struct Sale {
  Kind kind = Kind::Debit;
  Plan plan = Plan::Cash;
  int instalments = 0;      // 0 for a payment made at once
  std::int64_t cents = 0;   // the amount authorised (the amount cancelled, for a cancellation)
  std::string nsu;          // six digits, the SiTef NSU
  Clock::time_point host;   // when the host authorised it
  std::string originalNsu;  // a cancellation: the NSU and date (DDMMYYYY) of the payment it undoes
  std::string originalDate;
  std::string typedCard;  // a typed card's number, masked (first 6 and last 4 digits); else empty
};

// The payment-modality code of result field 100: two digits for the means of payment (01 debit,
// 02 credit, 99 any other, here Pix) and two for the plan (00 at once, 02 merchant, 03 issuer).
// Empty for a cancellation, which reports no modality.
std::string modalityCode(const Sale& sale);

// Rebuilds kind and plan from a modality code written by modalityCode.
void applyModalityCode(Sale& sale, std::string_view code);

// Reads an amount as the automation sends it ("12,34", "12.5", "12"); nothing for text that is not
// a non-negative amount with at most two decimals.
std::optional<std::int64_t> parseCents(std::string_view text);

// Writes cents as "12,34", the form the library uses for amounts.
std::string formatCents(std::int64_t cents);

// The amount of each instalment: equal parts, the remainder of the division in the first one.
std::int64_t instalmentCents(std::int64_t total, int count, int index);

// Local-time texts: "YYYYMMDDHHNNSS", "DDMMYYYY", "DD/MM/YYYY", "HH:NN:SS".
std::string hostDateTime(Clock::time_point t);
std::string dayMonthYear(Clock::time_point t);
std::string slashedDate(Clock::time_point t);
std::string clockTime(Clock::time_point t);

// Parses "YYYYMMDDHHNNSS" in local time.
std::optional<Clock::time_point> parseHostDateTime(std::string_view text);

// The due date of instalment `index` (from 1): the same day `index` months after `t`, or the last
// day of that month when it is shorter.
Clock::time_point dueDate(Clock::time_point t, int index);

// Whether `text` is a real calendar date in the given digit order ("YYYYMMDD" or "DDMMYYYY").
bool isDateYMD(std::string_view text);
bool isDateDMY(std::string_view text);

bool allDigits(std::string_view text);

// `text` without the blanks, tabs and line ends around it.
std::string_view trim(std::string_view text);

// The test card the simulator "reads" for a card payment: brand code and name as fields 132 and
// the receipts give them, and the masked number of field 2021.
struct Card {
  std::string_view brandCode;
  std::string_view brandName;
  std::string_view maskedNumber;
};
Card cardFor(Kind kind);

// Codes derived from the NSU, so that a reprint shows the same ones as the first print.
std::string authorisationCode(const Sale& sale);  // field 135, six digits
std::string hostNsu(const Sale& sale);            // field 134, nine digits

}  // namespace kelvora::sim
