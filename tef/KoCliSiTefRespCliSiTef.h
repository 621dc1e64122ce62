// The response record of the CliSiTef gateway: keeps every result field of a SiTef dialogue,
// escaped, under its field number, and converts the fields it knows into the record's properties.
#pragma once

#include <cstdint>

#include "platform/Ansi.h"
#include "tef/KoCliSiTefResp.h"

namespace kelvora::tef {

class TKoCliSiTefRespCliSiTef : public TKoCliSiTefResp {
 public:
  // Stores one field, escaped with CodificaHex, under (Identificacao, 0), replacing a previous
  // value; an empty value removes it. Instalment dates (141) and amounts (142) go instead under
  // the first free sequence from 1 up, so the n-th value lands under NNN-00n. Receipt images
  // (121, 122) also set MsgImpressao. Card data is stored masked (SigiloDoCampo): a card number
  // as its first 6 and last 4 characters, an expiry date, security code or password as '*'.
  void GravaInformacao(int32_t Identificacao, platform::AnsiStringView Informacao);

  // Converts the stored fields into properties: ValorTotal = 899-103 + withdrawal (130) -
  // discount (4029); receipt images split into lines; instalments 1..QtdParcelas from 141/142
  // when any 141 is present; the bookkeeping keys 899-001 to 899-003 back into their properties.
  void ConteudoToProperty() override;

  // A record of this class exists only for a dialogue that ran; success is decided by the
  // dialogue's final status, so the record itself always says approved.
  bool TransacaoAprovada() const override { return true; }

 private:
  // The component's own keys 899-NNN: bookkeeping (1 to 3) and the dialogue's request (100 to
  // 103). bruto is the value as stored, valor the unescaped one.
  void ConverteControle(int Sequencia, const platform::AnsiString& bruto,
                        const TKoCliSiTefInformacao& valor);
};

}  // namespace kelvora::tef
