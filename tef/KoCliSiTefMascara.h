// Masks for card data and secrets, so that no log line, response record or file made from one
// holds a card number, an expiry date or a security code in clear.
#pragma once

#include <cstdint>

#include "platform/Ansi.h"

namespace kelvora::tef {

// How a field's value may be shown or kept.
enum class TKoCliSiTefSigilo {
  Nenhum,  // as it is
  Cartao,  // a card number: first 6 and last 4 characters, the rest '*'
  Total,   // a secret: one '*' per character
};

// The card number fields (512 typed, 2021 reported by the library) keep their first 6 and last 4
// characters; the expiry date (513), the security code (514) and the password (500) are hidden
// whole; every other field is shown as it is.
TKoCliSiTefSigilo SigiloDoCampo(int32_t TipoCampo);

// The value as it may be shown or kept, of the same length. A card number shorter than 13
// characters is no real card number: keeping 10 of its characters would show nearly all of it,
// so it is hidden whole. A value already masked comes back unchanged.
platform::AnsiString Mascarar(TKoCliSiTefSigilo Sigilo, platform::AnsiStringView Valor);

}  // namespace kelvora::tef
