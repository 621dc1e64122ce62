// Enumerations of the response record: who finances instalments, the kind of operation, and the
// gateway type that produced a record.
#pragma once

namespace kelvora::tef {

// Who finances the instalments of a card payment.
enum TKoCliSiTefRespParceladoPor : int { parcNenhum, parcADM, parcLoja };

// The kind of payment: other, single payment, instalments, post-dated.
enum TKoCliSiTefRespTipoOperacao : int { opOutras, opAvista, opParcelado, opPreDatado };

// Gateway (GP) types, in the component's order; only gpCliSiTef has a gateway in this system.
enum TKoCliSiTefTipo : int {
  gpNenhum,
  gpTefDial,
  gpTefDisc,
  gpHiperTef,
  gpCliSiTef,
  gpTefGpu,
  gpVeSPague,
  gpBanese,
  gpTefAuttar,
  gpGoodCard,
  gpFoxWin,
  gpCliDTEF,
  gpPetrocard,
  gpCrediShop,
  gpTicketCar,
  gpConvCard
};

}  // namespace kelvora::tef
