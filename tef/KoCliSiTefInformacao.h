// One value of a TEF field file, with its typed readings and writings (integer, amount in cents,
// dates and times) in the exact text forms the field files use.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/Ansi.h"
#include "platform/DateTime.h"

namespace kelvora::tef {

class TKoCliSiTefInformacao {
 public:
  TKoCliSiTefInformacao() = default;
  explicit TKoCliSiTefInformacao(platform::AnsiString informacao)
      : fInformacao(std::move(informacao)) {}

  // The raw value text, exactly as in the line (no trimming either way).
  platform::AnsiString AsString() const { return fInformacao; }
  void SetAsString(platform::AnsiString value) { fInformacao = std::move(value); }

  // Decimal 32-bit integer of the trimmed text; 0 when it is not one. 0 is written as "".
  int32_t AsInteger() const;
  void SetAsInteger(int32_t value);

  // Amount with two implied decimals: "1234", "12,34" and "12.34" all read 12.34 (every ',' and
  // '.' is dropped and the digits count hundredths); 0 when not a 32-bit number. Written as the
  // rounded hundredths padded to at least three digits (0.5 gives "050"); 0 is written as "".
  double AsFloat() const;
  void SetAsFloat(double value);

  // Dates read from the digits of the text (separators ignored); 0 when there are too few
  // digits or the date is invalid. 0 is written as "".
  platform::TDateTime AsDate() const;  // DDMMYYYY
  void SetAsDate(platform::TDateTime value);
  platform::TDateTime AsTime() const;  // HHNNSS, no date part
  void SetAsTime(platform::TDateTime value);
  // DDMMHHNNSS; the year is the current year of the clock.
  platform::TDateTime AsTimeStamp(const platform::Clock& clock = platform::DefaultClock()) const;
  void SetAsTimeStamp(platform::TDateTime value);
  platform::TDateTime AsTimeStampSQL() const;  // YYYYMMDDHHNNSS
  void SetAsTimeStampSQL(platform::TDateTime value);

  // A free label; the component never uses it.
  const platform::AnsiString& Nome() const { return FNome; }
  void SetNome(platform::AnsiString nome) { FNome = std::move(nome); }

 private:
  platform::AnsiString fInformacao;
  platform::AnsiString FNome;
};

}  // namespace kelvora::tef
