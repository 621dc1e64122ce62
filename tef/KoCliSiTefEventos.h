// The facade's enumerations (request and response states, message, fiscal-printer and field
// operations) with their names as the log lines write them, and the types of its events.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Ansi.h"
#include "platform/Currency.h"
#include "tef/KoCliSiTefResp.h"
#include "tef/KoCliSiTefRespostasPendentes.h"
#include "tef/KoCliSiTefTipos.h"

namespace kelvora::tef {

// Progress of a request (set to reqNenhum when a gateway is created).
enum TKoCliSiTefReqEstado : int {
  reqNenhum,
  reqIniciando,
  reqCriandoArquivo,
  reqAguardandoResposta,
  reqConferindoResposta,
  reqFinalizada
};

// Progress of a response.
enum TKoCliSiTefRespEstado : int {
  respNenhum,
  respAguardandoResposta,
  respProcessando,
  respConcluida
};

// What OnExibeMsg is asked to do; opmYesNo expects the modal result 6 (yes) or another value.
enum TKoCliSiTefOperacaoMensagem : int {
  opmOK,
  opmYesNo,
  opmYesNoCustom,
  opmExibirMsgOperador,
  opmRemoverMsgOperador,
  opmExibirMsgCliente,
  opmRemoverMsgCliente,
  opmDestaqueVia,
  opmExcept,
  opmQRCode
};

// Commands for the fiscal printer (ECF).
enum TKoCliSiTefOperacaoECF : int {
  opeAbreGerencial,
  opeFechaGerencial,
  opePulaLinhas,
  opeSubTotalizaCupom,
  opeFechaCupom,
  opeFechaVinculado,
  opeCancelaCupom,
  opeImprimePagamentos
};

// The kind of report a receipt copy is printed in.
enum TKoCliSiTefTipoRelatorio : int { trGerencial, trVinculado };

// What OnInfoECF is asked about.
enum TKoCliSiTefInfoECF : int { ineSubTotal, ineEstadoECF, ineTotalAPagar };

// The kind of value a field request of the CliSiTef dialogue asks for.
enum TKoCliSiTefCliSiTefOperacaoCampo : int {
  tcString,
  tcCurrency,
  tcCMC7,
  tcBarCode,
  tcSeguranca
};

// The names of the values as the TEF log writes them ("opmOK", "opeFechaVinculado"...).
const char* NomeValor(TKoCliSiTefTipo valor);
const char* NomeValor(TKoCliSiTefReqEstado valor);
const char* NomeValor(TKoCliSiTefRespEstado valor);
const char* NomeValor(TKoCliSiTefOperacaoMensagem valor);
const char* NomeValor(TKoCliSiTefOperacaoECF valor);
const char* NomeValor(TKoCliSiTefTipoRelatorio valor);
const char* NomeValor(TKoCliSiTefInfoECF valor);
const char* NomeValor(TKoCliSiTefCliSiTefOperacaoCampo valor);

// Events of the facade. They are fired synchronously on the thread that called the facade; text
// is UTF-8, 8-bit answers to the library are platform::AnsiString, amounts are currency, and the
// parameters passed by reference are the in-out ones the handler may write.
using TKoCliSiTefAguardaRespEvent =
    std::function<void(const std::string& Arquivo, int32_t SegundosTimeOut, bool& Interromper)>;
using TKoCliSiTefExibeMsg = std::function<void(TKoCliSiTefOperacaoMensagem Operacao,
                                               const std::string& Mensagem, int& AModalResult)>;
using TKoCliSiTefBloqueiaMouseTeclado = std::function<void(bool Bloqueia, bool& Tratado)>;
using TKoCliSiTefExecutaAcao = std::function<void(bool& Tratado)>;
using TKoCliSiTefComandaECF = std::function<void(TKoCliSiTefOperacaoECF Operacao,
                                                 TKoCliSiTefResp& Resp, int32_t& RetornoECF)>;
using TKoCliSiTefComandaImpressao =
    std::function<void(int32_t& RetornoImpressao, TKoCliSiTefResp& Resp, bool Cancelado)>;
using TKoCliSiTefComandaECFSubtotaliza =
    std::function<void(platform::Currency DescAcre, int32_t& RetornoECF)>;
using TKoCliSiTefComandaECFPagamento = std::function<void(
    const std::string& IndiceECF, platform::Currency Valor, int32_t& RetornoECF)>;
using TKoCliSiTefComandaECFAbreVinculado =
    std::function<void(const std::string& COO, const std::string& IndiceECF,
                       platform::Currency Valor, int32_t& RetornoECF)>;
using TKoCliSiTefComandaECFImprimeVia =
    std::function<void(TKoCliSiTefTipoRelatorio TipoRelatorio, int32_t Via,
                       const std::vector<std::string>& ImagemComprovante, int32_t& RetornoECF)>;
using TKoCliSiTefObterInfoECF =
    std::function<void(TKoCliSiTefInfoECF Operacao, std::string& RetornoECF)>;
using TKoCliSiTefProcessarTransacoesPendentes =
    std::function<void(TKoCliSiTefRespostasPendentes& RespostasPendentes)>;
using TKoCliSiTefAntesCancelarTransacao = std::function<void(TKoCliSiTefResp& RespostaPendente)>;
using TKoCliSiTefMudaEstadoReq = std::function<void(TKoCliSiTefReqEstado EstadoReq)>;
using TKoCliSiTefMudaEstadoResp = std::function<void(TKoCliSiTefRespEstado EstadoResp)>;
using TKoCliSiTefCliSiTefExibeMenu =
    std::function<void(const std::string& Titulo, const std::vector<std::string>& Opcoes,
                       int32_t& ItemSelecionado, bool& VoltarMenu)>;
using TKoCliSiTefCliSiTefObtemCampo =
    std::function<void(const std::string& Titulo, int32_t TamanhoMinimo, int32_t TamanhoMaximo,
                       int32_t TipoCampo, TKoCliSiTefCliSiTefOperacaoCampo Operacao,
                       platform::AnsiString& Resposta, bool& Digitado, bool& VoltarMenu)>;
using TKoCliSiTefCliSiTefObtemCheque = std::function<void(
    const std::string& Titulo, int32_t TipoCampo, TKoCliSiTefCliSiTefOperacaoCampo Operacao,
    platform::AnsiString& Resposta, bool& Digitado, bool& VoltarMenu)>;
using TKoCliSiTefSenhaConfirmacao =
    std::function<void(const std::string& Titulo, bool& VoltarMenu)>;
using TKoClisiTefCliSiTefExibeQRCode = std::function<void(const std::string& QRCode)>;

}  // namespace kelvora::tef
