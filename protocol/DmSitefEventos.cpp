// The TEF component's events bound to the data module's handlers. For now these are the handlers
// the component's initialisation requires; the payment dialogue's handlers (prompts, cancellation,
// outcome, receipts) join them here.
#include "protocol/DmSitef.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::protocol {

void TDmSitef::BindKoCliSiTefEvents() {
  KoCliSiTef.OnExibeMsg = [this](tef::TKoCliSiTefOperacaoMensagem Operacao,
                                 const std::string& Mensagem, int& AModalResult) {
    KoCliSiTefExibeMsg(Operacao, Mensagem, AModalResult);
  };
  KoCliSiTef.OnComandaECF = [this](tef::TKoCliSiTefOperacaoECF, tef::TKoCliSiTefResp&,
                                   int32_t& RetornoECF) { KoCliSiTefComandaECF(RetornoECF); };
  KoCliSiTef.OnComandaImpressao = [this](int32_t& RetornoImpressao, tef::TKoCliSiTefResp&, bool) {
    KoCliSiTefComandaImpressao(RetornoImpressao);
  };
  KoCliSiTef.OnComandaECFAbreVinculado = [this](const std::string&, const std::string&,
                                                platform::Currency, int32_t& RetornoECF) {
    KoCliSiTefComandaECFAbreVinculado(RetornoECF);
  };
  KoCliSiTef.OnComandaECFImprimeVia =
      [this](tef::TKoCliSiTefTipoRelatorio TipoRelatorio, int32_t Via,
             const std::vector<std::string>& ImagemComprovante, int32_t& RetornoECF) {
        KoCliSiTefComandaECFImprimeVia(TipoRelatorio, Via, ImagemComprovante, RetornoECF);
      };
  KoCliSiTef.OnInfoECF = [this](tef::TKoCliSiTefInfoECF Operacao, std::string& RetornoECF) {
    KoCliSiTefInfoECF(Operacao, RetornoECF);
  };
}

// Messages of the component reach the client through the prompt relay of a payment; outside a
// payment (the confirmation of leftover payments at initialisation) there is nobody to show them
// to, and the modal result stays as the component set it.
void TDmSitef::KoCliSiTefExibeMsg(tef::TKoCliSiTefOperacaoMensagem, const std::string&, int&) {}

// There is no fiscal printer: every command succeeds.
void TDmSitef::KoCliSiTefComandaECF(int32_t& RetornoECF) {
  RetornoECF = 1;
}

void TDmSitef::KoCliSiTefComandaImpressao(int32_t& RetornoImpressao) {
  RetornoImpressao = 1;
}

void TDmSitef::KoCliSiTefComandaECFAbreVinculado(int32_t& RetornoECF) {
  RetornoECF = 1;
}

// A receipt copy counts as printed; the outcome handlers also send it to the client.
void TDmSitef::KoCliSiTefComandaECFImprimeVia(tef::TKoCliSiTefTipoRelatorio, int32_t,
                                              const std::vector<std::string>&,
                                              int32_t& RetornoECF) {
  RetornoECF = 1;
}

// The printer state: busy ("R") while the current CliSiTef (or VeSPague) gateway is not
// initialised, free ("L") otherwise. The amount questions are answered by the payment handlers.
void TDmSitef::KoCliSiTefInfoECF(tef::TKoCliSiTefInfoECF Operacao, std::string& RetornoECF) {
  if (Operacao != tef::ineEstadoECF) return;
  const tef::TKoCliSiTefTipo gp = KoCliSiTef.GPAtual();
  const bool semGateway = gp != tef::gpCliSiTef && gp != tef::gpVeSPague;
  const char estado = semGateway || KoCliSiTef.TEFCliSiTef().Inicializado() ? 'L' : 'R';
  RetornoECF.assign(1, estado);
}

}  // namespace kelvora::protocol
