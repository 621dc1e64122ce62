// Parsing of one field-file line; malformed keys read as field 0, never as an error.
#include "tef/KoCliSiTefLinha.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

using platform::AnsiString;
using platform::AnsiStringView;

constexpr AnsiStringView kSeparador = " = ";

// Position of the separator in the line with one blank appended, so that "009-000 =" has one.
size_t PosicaoSeparador(const AnsiString& linha) {
  return (linha + " ").find(kSeparador);
}

}  // namespace

AnsiString MontaChave(int32_t Identificacao, int32_t Sequencia) {
  char numero[16];
  std::snprintf(numero, sizeof numero, "%.3d", static_cast<int>(Identificacao));
  return platform::AnsiBytes(numero) + "-" + platform::AnsiBytes(PreencheZeros(Sequencia, 3));
}

void TKoCliSiTefLinha::SetLinha(AnsiString linha) {
  if (linha == fLinha) return;
  fLinha = std::move(linha);
  const size_t p = PosicaoSeparador(fLinha);
  if (p == AnsiString::npos) {
    fKoCliSiTefLinhaInformacao.SetAsString({});
    fIdentificacao = 0;
    fSequencia = 0;
    return;
  }
  const AnsiStringView chave = AnsiStringView(fLinha).substr(0, p);
  fKoCliSiTefLinhaInformacao.SetAsString(p + 3 < fLinha.size() ? fLinha.substr(p + 3)
                                                               : AnsiString());
  // d is the 1-based position of the first '-', raised to 4 so that a short key still splits as
  // NNN-NNN would.
  const size_t hifen = chave.find('-');
  const size_t d = hifen == AnsiStringView::npos || hifen + 1 <= 4 ? 4 : hifen + 1;
  const AnsiStringView numero = chave.substr(0, std::min(d - 1, chave.size()));
  const AnsiStringView sequencia = d < chave.size() ? chave.substr(d, 3) : AnsiStringView();
  // The fields are 16 bits wide, as the record format has them; larger numbers wrap.
  fIdentificacao = static_cast<int16_t>(StrToIntDef(numero, 0));
  fSequencia = static_cast<int16_t>(StrToIntDef(sequencia, 0));
}

AnsiString TKoCliSiTefLinha::Linha() const {
  if (!fLinha.empty()) return fLinha;
  if (fIdentificacao != 0) {
    return MontaChave(fIdentificacao, fSequencia) + AnsiString(kSeparador) +
           fKoCliSiTefLinhaInformacao.AsString();
  }
  return {};
}

AnsiString TKoCliSiTefLinha::Chave() const {
  if (!fLinha.empty()) {
    const size_t p = PosicaoSeparador(fLinha);
    return p == AnsiString::npos ? AnsiString() : fLinha.substr(0, p);
  }
  if (fIdentificacao != 0) return MontaChave(fIdentificacao, fSequencia);
  return {};
}

}  // namespace kelvora::tef
