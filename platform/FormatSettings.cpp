// The pt-BR format settings as constants, so no installed locale is needed.
#include "platform/FormatSettings.h"

namespace kelvora::platform {

const FormatSettings& PtBR() {
  static const FormatSettings settings{
      ',',
      '.',
      '/',
      ':',
      {"janeiro", "fevereiro", "março", "abril", "maio", "junho", "julho", "agosto", "setembro",
       "outubro", "novembro", "dezembro"},
      {"jan", "fev", "mar", "abr", "mai", "jun", "jul", "ago", "set", "out", "nov", "dez"},
  };
  return settings;
}

}  // namespace kelvora::platform
