// Totals of the pending responses.
#include "tef/KoCliSiTefRespostasPendentes.h"

namespace kelvora::tef {
namespace {

using platform::Currency;

Currency ArredondaCentavos(Currency value) {
  return Currency::FromCents(value.ToCents());
}

}  // namespace

Currency TKoCliSiTefRespostasPendentes::TotalPago() const {
  Currency soma;
  for (int i = 0; i < Count(); ++i) soma += GetObject(i).ValorTotal() - GetObject(i).Saque();
  return ArredondaCentavos(soma);
}

Currency TKoCliSiTefRespostasPendentes::TotalDesconto() const {
  Currency soma;
  for (int i = 0; i < Count(); ++i) soma += GetObject(i).Desconto();
  return ArredondaCentavos(Currency() - soma);
}

Currency TKoCliSiTefRespostasPendentes::SaldoRestante() const {
  Currency pago;
  for (int i = 0; i < Count(); ++i) {
    const TKoCliSiTefResp& resp = GetObject(i);
    if (resp.OrdemPagamento() == 0) pago += resp.ValorTotal() - resp.Saque() + resp.Desconto();
  }
  return ArredondaCentavos(fValorTotalAPagar - (fValorDinheiro + ArredondaCentavos(pago)));
}

}  // namespace kelvora::tef
