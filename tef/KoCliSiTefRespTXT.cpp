// Approval test and the few fields of a file-exchange response that this system knows.
#include "tef/KoCliSiTefRespTXT.h"

#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {

bool TKoCliSiTefRespTXT::TransacaoAprovada() const {
  const std::string status = Trim(fStatusTransacao);
  if (status.empty()) return false;
  if (StrToIntDef(status, -1) == 0) return true;
  return status.size() == 2 && (status[0] == 'P' || status[0] == 'p') && status[1] == '1';
}

void TKoCliSiTefRespTXT::ConteudoToProperty() {
  for (int i = 0; i < fConteudo.Count(); ++i) {
    const TKoCliSiTefLinha& linha = fConteudo.GetLinha(i);
    const std::string valor = platform::FromAnsi(linha.Informacao().AsString());
    if (linha.Identificacao() == 0 && linha.Sequencia() == 0 && linha.Chave() == "000-000") {
      fHeader = valor;
    } else if (linha.Identificacao() == 9 && linha.Sequencia() == 0) {
      fStatusTransacao = valor;
    } else if (linha.Identificacao() == 999 && linha.Sequencia() == 999) {
      fTrailer = valor;
    }
  }
}

}  // namespace kelvora::tef
