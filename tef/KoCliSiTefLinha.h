// One line of a TEF field file ("NNN-NNN = value"), split into its field number, sequence and
// value, and the key text built from a field number and a sequence.
#pragma once

#include <cstdint>

#include "platform/Ansi.h"
#include "tef/KoCliSiTefInformacao.h"

namespace kelvora::tef {

// The key of a field: the number zero-padded to at least three digits, "-", and the sequence
// zero-padded to three digits or cut to its first three (9, 0 -> "009-000"; 5, 1234 -> "005-123";
// 1000, 1 -> "1000-001").
platform::AnsiString MontaChave(int32_t Identificacao, int32_t Sequencia);

class TKoCliSiTefLinha {
 public:
  // Parses a line (nothing happens when it equals the current text). The key is the text before
  // the first " = " (a line ending in " =" counts), the value everything after it; the field
  // number is the part of the key before its first '-' (a '-' within the first three characters
  // is treated as if at the fourth), the sequence the three characters after it; anything that is
  // not a number reads as 0. A line without " = " has an empty value and numbers 0.
  void SetLinha(platform::AnsiString linha);

  // The stored text; for a line never set but given a number, the line rebuilt from its parts.
  platform::AnsiString Linha() const;
  // The key part of the line ("" when there is none).
  platform::AnsiString Chave() const;

  int16_t Identificacao() const { return fIdentificacao; }
  int16_t Sequencia() const { return fSequencia; }
  const TKoCliSiTefInformacao& Informacao() const { return fKoCliSiTefLinhaInformacao; }
  TKoCliSiTefInformacao& Informacao() { return fKoCliSiTefLinhaInformacao; }

 private:
  int16_t fIdentificacao = 0;
  TKoCliSiTefInformacao fKoCliSiTefLinhaInformacao;
  platform::AnsiString fLinha;
  int16_t fSequencia = 0;
};

}  // namespace kelvora::tef
