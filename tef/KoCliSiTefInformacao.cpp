// Typed readings of a field value: every malformed text reads as 0, nothing here throws.
#include "tef/KoCliSiTefInformacao.h"

#include <optional>
#include <string>

#include "platform/Currency.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

using platform::AnsiString;
using platform::TDateTime;

// The digits of the trimmed text when there are at least `count` of them.
std::optional<AnsiString> Digitos(const AnsiString& text, size_t count) {
  AnsiString digits = SomenteDigitos(Trim(text));
  if (digits.size() < count) return std::nullopt;
  return digits;
}

// The number held by the digits at 1-based position `from`, `length` digits long.
int Campo(const AnsiString& digits, size_t from, size_t length) {
  return StrToIntDef(platform::AnsiStringView(digits).substr(from - 1, length), 0);
}

AnsiString Formata(const char* pattern, TDateTime value) {
  if (value == 0) return {};
  return platform::AnsiBytes(platform::FormatDateTime(pattern, value));
}

}  // namespace

int32_t TKoCliSiTefInformacao::AsInteger() const {
  return StrToIntDef(Trim(fInformacao), 0);
}

void TKoCliSiTefInformacao::SetAsInteger(int32_t value) {
  fInformacao = value == 0 ? AnsiString() : platform::AnsiBytes(std::to_string(value));
}

double TKoCliSiTefInformacao::AsFloat() const {
  AnsiString digits;
  for (const char c : Trim(fInformacao)) {
    if (c != ',' && c != '.') digits.push_back(c);
  }
  return StrToIntDef(digits, 0) / 100.0;
}

void TKoCliSiTefInformacao::SetAsFloat(double value) {
  if (value == 0) {
    fInformacao.clear();
    return;
  }
  const int64_t hundredths = platform::RoundHalfAwayFromZero(value * 100);
  std::string digits = std::to_string(hundredths < 0 ? -hundredths : hundredths);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  fInformacao = platform::AnsiBytes((hundredths < 0 ? "-" : "") + digits);
}

TDateTime TKoCliSiTefInformacao::AsDate() const {
  const auto d = Digitos(fInformacao, 8);
  if (!d) return 0;
  return platform::TryEncodeDate(Campo(*d, 5, 4), Campo(*d, 3, 2), Campo(*d, 1, 2)).value_or(0);
}

void TKoCliSiTefInformacao::SetAsDate(TDateTime value) {
  fInformacao = Formata("ddmmyyyy", value);
}

TDateTime TKoCliSiTefInformacao::AsTime() const {
  const auto d = Digitos(fInformacao, 6);
  if (!d) return 0;
  return platform::TryEncodeTime(Campo(*d, 1, 2), Campo(*d, 3, 2), Campo(*d, 5, 2)).value_or(0);
}

void TKoCliSiTefInformacao::SetAsTime(TDateTime value) {
  fInformacao = Formata("hhnnss", value);
}

TDateTime TKoCliSiTefInformacao::AsTimeStamp(const platform::Clock& clock) const {
  const auto d = Digitos(fInformacao, 10);
  if (!d) return 0;
  const int year = platform::DecodeDateTime(platform::Now(clock)).year;
  const platform::DateParts parts{
      year, Campo(*d, 3, 2), Campo(*d, 1, 2), Campo(*d, 5, 2), Campo(*d, 7, 2), Campo(*d, 9, 2), 0};
  return platform::TryEncodeDateTime(parts).value_or(0);
}

void TKoCliSiTefInformacao::SetAsTimeStamp(TDateTime value) {
  fInformacao = Formata("ddmmhhnnss", value);
}

TDateTime TKoCliSiTefInformacao::AsTimeStampSQL() const {
  const auto d = Digitos(fInformacao, 14);
  if (!d) return 0;
  const platform::DateParts parts{Campo(*d, 1, 4),
                                  Campo(*d, 5, 2),
                                  Campo(*d, 7, 2),
                                  Campo(*d, 9, 2),
                                  Campo(*d, 11, 2),
                                  Campo(*d, 13, 2),
                                  0};
  return platform::TryEncodeDateTime(parts).value_or(0);
}

void TKoCliSiTefInformacao::SetAsTimeStampSQL(TDateTime value) {
  fInformacao = Formata("yyyymmddhhnnss", value);
}

}  // namespace kelvora::tef
