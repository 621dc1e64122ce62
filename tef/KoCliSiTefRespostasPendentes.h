// The component's list of pending responses (approved, not yet confirmed, printed or cancelled)
// with the sale's amounts and the totals derived from the records.
#pragma once

#include "platform/Currency.h"
#include "tef/KoCliSiTefObjectList.h"
#include "tef/KoCliSiTefResp.h"

namespace kelvora::tef {

// Totals are rounded to cents, ties to the even cent.
class TKoCliSiTefRespostasPendentes : public TKoCliSiTefObjectList<TKoCliSiTefResp> {
 public:
  // Amount of the payment being started (set by the amount check before a payment).
  platform::Currency SaldoAPagar() const { return fSaldoAPagar; }
  void SetSaldoAPagar(platform::Currency value) { fSaldoAPagar = value; }
  // Kept for users; the component never reads or writes it.
  platform::Currency Acumulado() const { return fAcumulado; }
  void SetAcumulado(platform::Currency value) { fAcumulado = value; }
  // Total of the sale, set by the user before paying.
  platform::Currency ValorTotalAPagar() const { return fValorTotalAPagar; }
  void SetValorTotalAPagar(platform::Currency value) { fValorTotalAPagar = value; }
  // Part of the sale paid otherwise (cash), set by the user.
  platform::Currency ValorDinheiro() const { return fValorDinheiro; }
  void SetValorDinheiro(platform::Currency value) { fValorDinheiro = value; }

  // Sum of (ValorTotal - Saque) over all records.
  platform::Currency TotalPago() const;
  // Minus the sum of the discounts: 0 or negative.
  platform::Currency TotalDesconto() const;
  // ValorTotalAPagar - (ValorDinheiro + the gross card amounts, ValorTotal - Saque + Desconto, of
  // the records not yet registered with the fiscal printer, i.e. OrdemPagamento 0).
  platform::Currency SaldoRestante() const;

 private:
  platform::Currency fSaldoAPagar;
  platform::Currency fAcumulado;
  platform::Currency fValorTotalAPagar;
  platform::Currency fValorDinheiro;
};

}  // namespace kelvora::tef
