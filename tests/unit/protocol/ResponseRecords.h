// Response records as a confirmed dialogue leaves them, for the tests of what is built from them.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Ansi.h"
#include "tef/KoCliSiTefRespCliSiTef.h"

namespace kelvora::protocol::testing {

using TCampos = std::initializer_list<std::pair<int, std::string_view>>;

// A confirmed response as the dialogue leaves it: the amount in cents (899-103), the result
// fields, and the payment form index the request passed.
inline std::unique_ptr<tef::TKoCliSiTefResp> Record(TCampos campos,
                                                    std::string_view centavos = "1050",
                                                    const std::string& indice = "02") {
  auto record = std::make_unique<tef::TKoCliSiTefRespCliSiTef>();
  record->Conteudo().GravaInformacao(899, 103, platform::AnsiBytes(centavos));
  for (const auto& [campo, valor] : campos) record->GravaInformacao(campo, platform::ToAnsi(valor));
  record->ConteudoToProperty();
  record->SetIndiceFPG_ECF(indice);
  return record;
}

inline const TCampos kDebito = {
    {100, "0100"},           {102, "Cartão de Débito"},
    {105, "20240105103000"}, {121, "VIA CLIENTE\nOK"},
    {122, "VIA LOJA"},       {131, "00005"},
    {134, "HOST1"},          {135, "AUT123"},
    {156, "REDE"},           {157, "000000000000001"},
    {800, "HASH1"},          {2021, "************1234"},
};

}  // namespace kelvora::protocol::testing
