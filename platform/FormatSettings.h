// The built-in pt-BR format settings: what the service uses wherever a locale would decide a format.
#pragma once

#include <array>
#include <string>

namespace kelvora::platform {

struct FormatSettings {
  char DecimalSeparator;
  char ThousandSeparator;
  char DateSeparator;
  char TimeSeparator;
  std::array<std::string, 12> LongMonthNames;   // UTF-8, lower case as the locale writes them
  std::array<std::string, 12> ShortMonthNames;  // UTF-8
};

// Brazilian Portuguese: comma decimal separator, day/month/year, "/" and ":".
const FormatSettings& PtBR();

}  // namespace kelvora::platform
