// The response record of file-exchange gateways: header, status and trailer of an exchanged
// response file. No such gateway is part of this system; the record serves the component's
// pending-copy factory.
#pragma once

#include "tef/KoCliSiTefResp.h"

namespace kelvora::tef {

class TKoCliSiTefRespTXT : public TKoCliSiTefResp {
 public:
  // Approved when the trimmed status reads as the number 0 or is "P1" in any letter case; an
  // empty status is not approved.
  bool TransacaoAprovada() const override;
  // Takes Header from 000-000, StatusTransacao from 009-000 and Trailer from 999-999.
  void ConteudoToProperty() override;

  // The response file was complete: it carried its trailer.
  bool TrailerOk() const { return !fTrailer.empty(); }
};

}  // namespace kelvora::tef
