// Masks for card data and secrets.
#include "tef/KoCliSiTefMascara.h"

namespace kelvora::tef {
namespace {

// The shortest card number in use; shorter values are hidden whole.
constexpr size_t kMenorCartao = 13;
constexpr size_t kInicioVisivel = 6;
constexpr size_t kFimVisivel = 4;

}  // namespace

TKoCliSiTefSigilo SigiloDoCampo(int32_t TipoCampo) {
  switch (TipoCampo) {
    case 512:
    case 2021:
      return TKoCliSiTefSigilo::Cartao;
    case 500:
    case 513:
    case 514:
      return TKoCliSiTefSigilo::Total;
    default:
      return TKoCliSiTefSigilo::Nenhum;
  }
}

platform::AnsiString Mascarar(TKoCliSiTefSigilo Sigilo, platform::AnsiStringView Valor) {
  platform::AnsiString resultado(Valor);
  if (Sigilo == TKoCliSiTefSigilo::Nenhum) return resultado;
  const bool mostraPontas = Sigilo == TKoCliSiTefSigilo::Cartao && Valor.size() >= kMenorCartao;
  for (size_t i = 0; i < resultado.size(); ++i) {
    if (mostraPontas && (i < kInicioVisivel || i >= resultado.size() - kFimVisivel)) continue;
    resultado[i] = '*';
  }
  return resultado;
}

}  // namespace kelvora::tef
