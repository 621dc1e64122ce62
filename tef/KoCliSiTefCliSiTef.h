// The CliSiTef gateway TKoCliSiTefCliSiTef: drives the SiTef client library CliSiTef32I.dll
// in-process. Life cycle and library binding (KoCliSiTefCliSiTef.cpp), the interactive dialogue
// (KoCliSiTefCliSiTefLoop.cpp) and the transaction operations (KoCliSiTefCliSiTefOperacoes.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ansi.h"
#include "platform/Currency.h"
#include "platform/DateTime.h"
#include "tef/CliSiTefLibrary.h"
#include "tef/KoCliSiTefClass.h"
#include "tef/KoCliSiTefRespCliSiTef.h"
#include "tef/TimedLibraryCall.h"

namespace kelvora::tef {

class TKoCliSiTef;

// Text settings are given and read as UTF-8 and kept as Windows-1252, the form the library takes
// them in: characters the code page lacks do not survive.
class TKoCliSiTefCliSiTef : public TKoCliSiTefClass {
 public:
  // Named "CliSiTef", of type gpCliSiTef, with a TKoCliSiTefRespCliSiTef as its response record.
  explicit TKoCliSiTefCliSiTef(TKoCliSiTef& AOwner);

  // --- Settings -------------------------------------------------------------------------------
  std::string EnderecoIP() const { return platform::FromAnsi(fEnderecoIP); }
  void SetEnderecoIP(std::string_view value) { fEnderecoIP = platform::ToAnsi(value); }
  std::string CodigoLoja() const { return platform::FromAnsi(fCodigoLoja); }
  void SetCodigoLoja(std::string_view value) { fCodigoLoja = platform::ToAnsi(value); }
  std::string NumeroTerminal() const { return platform::FromAnsi(fNumeroTerminal); }
  void SetNumeroTerminal(std::string_view value) { fNumeroTerminal = platform::ToAnsi(value); }
  std::string Operador() const { return platform::FromAnsi(fOperador); }
  void SetOperador(std::string_view value) { fOperador = platform::ToAnsi(value); }
  std::string Restricoes() const { return platform::FromAnsi(fRestricoes); }
  void SetRestricoes(std::string_view value) { fRestricoes = platform::ToAnsi(value); }
  // Additional configuration parameters, one per line.
  const std::vector<std::string>& ParametrosAdicionais() const { return fParametrosAdicionais; }
  void SetParametrosAdicionais(std::vector<std::string> value) {
    fParametrosAdicionais = std::move(value);
  }
  // The same as one text: lines end at CR LF, CR or LF.
  void SetParametrosAdicionaisTexto(std::string_view texto);
  // SiTef function codes that start each kind of dialogue.
  int32_t OperacaoATV() const { return fOperacaoATV; }
  void SetOperacaoATV(int32_t value) { fOperacaoATV = value; }
  int32_t OperacaoADM() const { return fOperacaoADM; }
  void SetOperacaoADM(int32_t value) { fOperacaoADM = value; }
  int32_t OperacaoCRT() const { return fOperacaoCRT; }
  void SetOperacaoCRT(int32_t value) { fOperacaoCRT = value; }
  // Where the application reports the next approved payment and for which company: stored with
  // its document in the payment's backup (899-106, 899-107; left out when empty).
  void SetRetornoAplicacao(const std::string& Endereco, const std::string& Empresa) {
    fEnderecoRetornoAplicacao = Endereco;
    fEmpresaAplicacao = Empresa;
  }
  // The application's operation of the next approved payment and the page's key for it: stored
  // in its backup (899-110, 899-109; left out when empty).
  void SetOperacaoAplicacao(const std::string& Operacao, const std::string& Chave) {
    fOperacaoAplicacao = Operacao;
    fChaveAplicacao = Chave;
  }
  int32_t OperacaoCHQ() const { return fOperacaoCHQ; }
  void SetOperacaoCHQ(int32_t value) { fOperacaoCHQ = value; }
  int32_t OperacaoCNC() const { return fOperacaoCNC; }
  void SetOperacaoCNC(int32_t value) { fOperacaoCNC = value; }
  int32_t OperacaoReImpressao() const { return fOperacaoReImpressao; }
  void SetOperacaoReImpressao(int32_t value) { fOperacaoReImpressao = value; }
  // The folder that holds the library (empty: the system's library search).
  const std::string& PathDLL() const { return fPathDLL; }
  void SetPathDLL(const std::string& value) { fPathDLL = value; }
  // The library's file name in that folder: CliSiTef32I.dll unless another is configured.
  const std::string& NomeDLL() const { return fNomeDLL; }
  void SetNomeDLL(const std::string& value) { fNomeDLL = value; }
  // The loader's own reason why the last initialisation could not load the library or one of its
  // exports ("" when it could).
  const std::string& ErroCarregamento() const { return fDLL.ErroCarregamento(); }
  // Service mode: no modal message boxes (there are none on this platform either way).
  bool ModoServico() const { return FTEFModoServico; }
  // Whether the library loaded is the product's simulator: nothing it approves is real.
  bool BibliotecaSimulada() const { return fDLL.EhSimulador(); }
  static constexpr std::string_view kAvisoSimulador =
      "A biblioteca SiTef carregada é o SIMULADOR: nenhum pagamento é real.";
  void SetModoServico(bool value) { FTEFModoServico = value; }
  // Plain stored values.
  int32_t NumeroParcela() const { return FNumeroParcela; }
  void SetNumeroParcela(int32_t value) { FNumeroParcela = value; }
  const std::string& CodigoBandeiraAutorizada() const { return fCodigoBandeira; }
  void SetCodigoBandeiraAutorizada(const std::string& value) { fCodigoBandeira = value; }
  const std::string& CodigoRedeAutorizada() const { return fCodigoRede; }
  void SetCodigoRedeAutorizada(const std::string& value) { fCodigoRede = value; }
  const std::string& CodigoNSU() const { return fOrigiNSU; }
  void SetCodigoNSU(const std::string& value) { fOrigiNSU = value; }
  const std::string& CodigoNSUHost() const { return fOrigiNSUHost; }
  void SetCodigoNSUHost(const std::string& value) { fOrigiNSUHost = value; }
  // The hash code of result field 800: the first one received since creation.
  const std::string& CodigoHASH() const { return FCodigoHASH; }
  // A cancellation in progress: while CancelandoTransacaoTEF is set, the dialogue answers the
  // questions for the original date, NSU and amount with these values.
  const std::string& CancelandoTransacaoNSU() const { return FCancelandoTransacaoNSU; }
  void SetCancelandoTransacaoNSU(const std::string& value) { FCancelandoTransacaoNSU = value; }
  platform::TDateTime CancelandoTransacaoDATA() const { return FCancelandoTransacaoDATA; }
  void SetCancelandoTransacaoDATA(platform::TDateTime value) { FCancelandoTransacaoDATA = value; }
  platform::Currency CancelandoTransacaoVALOR() const { return FCancelandoTransacaoVALOR; }
  void SetCancelandoTransacaoVALOR(platform::Currency value) { FCancelandoTransacaoVALOR = value; }
  bool CancelandoTransacaoTEF() const { return FCancelandoTransacaoTEF; }
  void SetCancelandoTransacaoTEF(bool value) { FCancelandoTransacaoTEF = value; }
  // Pre-set answers of the running operation, by field type.
  const std::map<int32_t, platform::AnsiString>& Respostas() const { return fRespostas; }

  std::unique_ptr<TKoCliSiTefResp> CriarResposta() const override;

  // --- Life cycle and direct services (KoCliSiTefCliSiTef.cpp) ---------------------------------
  // Resolves the library's exports, configures it for the SiTef server and, once initialised,
  // confirms the payments left in backup files by an earlier run. Does nothing when initialised.
  void Inicializar() override;
  // Forgets the library's entry points, then marks the gateway uninitialised.
  void DesInicializar() override;
  // Always fails: the library has no separate program to start.
  void AtivarGP() override;
  void VerificaAtivo() override {}
  // The gateway always prints two copies.
  void SetNumVias(int32_t Value) override;
  int32_t DefineMensagemPermanentePinPad(const std::string& Mensagem);
  // "PINPAD conectado com sucesso...", "Nenhum PINPAD conectado...",
  // "Erro na DLL ou arquivo .INI do PINPAD", or empty text for any other answer of the library.
  std::string VerificarPresencaPinPad();
  int32_t ObtemQuantidadeTransacoesPendentes(platform::TDateTime Data,
                                             const std::string& CupomFiscal);

  // --- The interactive dialogue (KoCliSiTefCliSiTefLoop.cpp) -----------------------------------
  // Starts a dialogue; returns the library's result (10000: the dialogue must be continued).
  int32_t IniciarFuncaoInterativa(int32_t Modalidade, const std::string& Header,
                                  const platform::AnsiString& Restricoes, platform::Currency Valor);
  // Runs the dialogue to its end and returns the final status (0: success).
  int32_t ContinuarFuncaoInterativa(bool ModoTrilha3, const platform::AnsiString& NumeroCartao,
                                    const platform::AnsiString& DataVencimento,
                                    const platform::AnsiString& CVV,
                                    const platform::AnsiString& QtdParcela);
  // Shows the message for a final status other than 0 (opmExcept).
  void ExibirErroSiTef(int32_t Codigo);
  // Every "@" and then every "/n" becomes CR LF.
  static std::string FormatarMensagemSiTef(std::string texto);

  // --- Operations (KoCliSiTefCliSiTefOperacoes.cpp) --------------------------------------------
  using TKoCliSiTefClass::CNC;
  using TKoCliSiTefClass::CNF;
  using TKoCliSiTefClass::NCN;
  void ATV() override;
  bool ADM() override;
  bool CRT(platform::Currency Valor, const std::string& IndiceFPG_ECF,
           const std::string& NumeroCartao, const std::string& DataVencimento,
           const std::string& CVV, const std::string& QtdParcela,
           const std::string& DocumentoVinculado, int32_t Moeda) override;
  bool CHQ(platform::Currency Valor, const std::string& IndiceFPG_ECF,
           const std::string& DocumentoVinculado, const std::string& CMC7, char TipoPessoa,
           const std::string& DocumentoPessoa, platform::TDateTime DataCheque,
           const std::string& Banco, const std::string& Agencia, const std::string& AgenciaDC,
           const std::string& Conta, const std::string& ContaDC, const std::string& Cheque,
           const std::string& ChequeDC, const std::string& Compensacao) override;
  bool CNC(const std::string& Rede, const std::string& NSU, platform::TDateTime DataHoraTransacao,
           platform::Currency Valor) override;
  void CNF(const std::string& Rede, const std::string& NSU, const std::string& Finalizacao,
           const std::string& DocumentoVinculado) override;
  void NCN(const std::string& Rede, const std::string& NSU, const std::string& Finalizacao,
           platform::Currency Valor, const std::string& DocumentoVinculado) override;
  // Ends the transaction of the last dialogue: confirms it or undoes it in the library. A reprint
  // sends nothing; when the response holds a receipt image the application's OnComandaImpressao
  // decides (a printed receipt confirms).
  // Finalizacao carries the fiscal date and time the dialogue started with (YYYYMMDDHHNNSS);
  // empty means the current record's, when it is the same document.
  void FinalizarTransacao(bool Confirma, const std::string& DocumentoVinculado,
                          const std::string& Finalizacao = {});
  int32_t LerTrilha3(platform::AnsiString& AResposta) override;
  int32_t LerCartaoSeguro() override;
  void VerificaRequisicaoIniciada() override;
  void ProcessarResposta() override;
  bool ProcessarRespostaPagamento(const std::string& IndiceFPG_ECF,
                                  platform::Currency Valor) override;

 protected:
  // A leftover backup is confirmed, and a reversed one undone, in the library itself with the
  // backup's document number, whatever the last dialogue or the printing handshake would say.
  void ConfirmarBackup() override;
  void DesfazerBackup() override;

 private:
  struct Dialogo;

  TKoCliSiTefRespCliSiTef& RespCliSiTef() { return fRespCliSiTef; }
  // The slot's function, timed under nome, or std::runtime_error "Erro ao iniciar "TEF"" when it
  // is not resolved.
  template <class Funcao>
  static TTimedLibraryCall<Funcao> Exportacao(Funcao slot, const char* nome) {
    if (slot == nullptr) throw std::runtime_error("Erro ao iniciar \"TEF\"");
    return {slot, nome};
  }
  // Calls FinalizaTransacaoSiTefInterativo with the transaction's fiscal date and time (from
  // Finalizacao; the current ones when it holds none), logging it first.
  void FinalizarNaBiblioteca(bool Confirma, const std::string& DocumentoVinculado,
                             const std::string& Finalizacao);
  // Records the application's document of an approved payment (899-105), with where it reports
  // it (899-106, 899-107), before it is backed up.
  void GuardaDocumentoAplicacao(const std::string& DocumentoVinculado);
  // The common shape of ATV, ADM, CRT, CHQ and CNC: starts and runs the dialogue and shows the
  // message of a failed final status; returns the final status.
  int32_t ExecutarFuncao(int32_t Modalidade, const std::string& Header,
                         const platform::AnsiString& Restricoes, platform::Currency Valor,
                         const platform::AnsiString& NumeroCartao,
                         const platform::AnsiString& DataVencimento,
                         const platform::AnsiString& CVV, const platform::AnsiString& QtdParcela);
  void SetResposta(int32_t campo, platform::AnsiString valor);

  // Commands of the dialogue.
  void ExecutarComando(Dialogo& d);
  void ComandoResultado(Dialogo& d);
  void ComandoMenu(Dialogo& d);
  // True, with the dialogue ended, when a field answered from the request is asked once too often.
  bool AutoRespostaRecusada(Dialogo& d);
  // How often the library may ask again for a field the request answers before the dialogue ends.
  static constexpr int kMaxRespostasAutomaticas = 2;
  void ComandoCampo(Dialogo& d);
  void ComandoCheque(Dialogo& d);
  void ComandoValor(Dialogo& d);
  void RemoverMensagens();

  TKoCliSiTefRespCliSiTef& fRespCliSiTef;
  bool fIniciouRequisicao = false;
  bool fReimpressao = false;
  bool fDevolucao = false;
  platform::AnsiString fCodigoLoja;
  platform::AnsiString fEnderecoIP;
  platform::AnsiString fNumeroTerminal;
  int32_t fOperacaoADM = 110;
  int32_t fOperacaoATV = 111;
  int32_t fOperacaoCHQ = 1;
  int32_t fOperacaoCNC = 200;
  int32_t fOperacaoCRT = 0;
  std::string fEnderecoRetornoAplicacao;
  std::string fEmpresaAplicacao;
  std::string fOperacaoAplicacao;
  std::string fChaveAplicacao;
  int32_t fOperacaoReImpressao = 112;
  platform::AnsiString fOperador;
  std::vector<std::string> fParametrosAdicionais;
  std::map<int32_t, platform::AnsiString> fRespostas;
  platform::AnsiString fRestricoes;
  std::string fPathDLL;
  std::string fNomeDLL = kNomeDLL;
  TCliSiTefLibrary fDLL;
  int32_t FNumeroParcela = 0;
  std::string fCodigoBandeira;
  std::string fCodigoRede;
  std::string fOrigiNSU;
  std::string fOrigiNSUHost;
  std::string FCancelandoTransacaoNSU;
  platform::TDateTime FCancelandoTransacaoDATA = 0;
  platform::Currency FCancelandoTransacaoVALOR;
  bool FCancelandoTransacaoTEF = false;
  std::string FCodigoHASH;
  bool FTEFModoServico = false;
};

}  // namespace kelvora::tef
