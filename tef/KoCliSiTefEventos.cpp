// Names of the facade's enumeration values, as the TEF log writes them.
#include "tef/KoCliSiTefEventos.h"

#include <array>
#include <cstddef>

namespace kelvora::tef {
namespace {

// The name at a value's position; "?" for a value outside the enumeration (a cast gone wrong).
template <size_t N>
const char* Nome(const std::array<const char*, N>& nomes, int valor) {
  return valor >= 0 && static_cast<size_t>(valor) < N ? nomes[static_cast<size_t>(valor)] : "?";
}

}  // namespace

const char* NomeValor(TKoCliSiTefTipo valor) {
  static constexpr std::array<const char*, 16> kNomes = {
      "gpNenhum",    "gpTefDial",   "gpTefDisc",   "gpHiperTef", "gpCliSiTef", "gpTefGpu",
      "gpVeSPague",  "gpBanese",    "gpTefAuttar", "gpGoodCard", "gpFoxWin",   "gpCliDTEF",
      "gpPetrocard", "gpCrediShop", "gpTicketCar", "gpConvCard"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefReqEstado valor) {
  static constexpr std::array<const char*, 6> kNomes = {"reqNenhum",
                                                        "reqIniciando",
                                                        "reqCriandoArquivo",
                                                        "reqAguardandoResposta",
                                                        "reqConferindoResposta",
                                                        "reqFinalizada"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefRespEstado valor) {
  static constexpr std::array<const char*, 4> kNomes = {"respNenhum", "respAguardandoResposta",
                                                        "respProcessando", "respConcluida"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefOperacaoMensagem valor) {
  static constexpr std::array<const char*, 10> kNomes = {"opmOK",
                                                         "opmYesNo",
                                                         "opmYesNoCustom",
                                                         "opmExibirMsgOperador",
                                                         "opmRemoverMsgOperador",
                                                         "opmExibirMsgCliente",
                                                         "opmRemoverMsgCliente",
                                                         "opmDestaqueVia",
                                                         "opmExcept",
                                                         "opmQRCode"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefOperacaoECF valor) {
  static constexpr std::array<const char*, 8> kNomes = {
      "opeAbreGerencial", "opeFechaGerencial", "opePulaLinhas",   "opeSubTotalizaCupom",
      "opeFechaCupom",    "opeFechaVinculado", "opeCancelaCupom", "opeImprimePagamentos"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefTipoRelatorio valor) {
  static constexpr std::array<const char*, 2> kNomes = {"trGerencial", "trVinculado"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefInfoECF valor) {
  static constexpr std::array<const char*, 3> kNomes = {"ineSubTotal", "ineEstadoECF",
                                                        "ineTotalAPagar"};
  return Nome(kNomes, valor);
}

const char* NomeValor(TKoCliSiTefCliSiTefOperacaoCampo valor) {
  static constexpr std::array<const char*, 5> kNomes = {"tcString", "tcCurrency", "tcCMC7",
                                                        "tcBarCode", "tcSeguranca"};
  return Nome(kNomes, valor);
}

}  // namespace kelvora::tef
