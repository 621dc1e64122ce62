// Fuzz target of the \xHH escaping that keeps result fields on one field-file line.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/Ansi.h"
#include "tef/KoCliSiTefUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  const platform::AnsiString valor = platform::AnsiBytes(fuzz::AsText(data, size));

  const platform::AnsiString codificado = tef::CodificaHex(valor);
  for (const char c : codificado) {
    Require(static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127,
            "CodificaHex writes printable ASCII only");
  }
  Require(tef::DecodificaHex(codificado) == valor, "DecodificaHex reverses CodificaHex");

  // Any stored text, escaped or not, decodes to at most as many bytes as it has.
  Require(tef::DecodificaHex(valor).size() <= valor.size(), "decoding never lengthens a value");
  return 0;
}
