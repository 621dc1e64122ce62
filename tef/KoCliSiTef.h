// The TEF component's facade TKoCliSiTef: the one object the application drives. It holds the
// settings, owns the CliSiTef gateway and the list of pending responses, forwards payment
// operations to the current gateway, confirms or reverses pending payments, prints their receipts
// through the application's fiscal-printer events, and turns every user interaction into an event.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ansi.h"
#include "platform/Currency.h"
#include "platform/DateTime.h"
#include "tef/KoCliSiTefClass.h"
#include "tef/KoCliSiTefEventos.h"
#include "tef/KoCliSiTefRespostasPendentes.h"

namespace kelvora::tef {

class TKoCliSiTefCliSiTef;

// The application's identification, kept trimmed.
class TKoCliSiTefIdentificacao {
 public:
  const std::string& NomeAplicacao() const { return fNomeAplicacao; }
  void SetNomeAplicacao(const std::string& value);
  const std::string& VersaoAplicacao() const { return fVersaoAplicacao; }
  void SetVersaoAplicacao(const std::string& value);
  const std::string& SoftwareHouse() const { return fSoftwareHouse; }
  void SetSoftwareHouse(const std::string& value);
  const std::string& RazaoSocial() const { return fRazaoSocial; }
  void SetRazaoSocial(const std::string& value);

 private:
  std::string fNomeAplicacao;
  std::string fVersaoAplicacao;
  std::string fSoftwareHouse;
  std::string fRazaoSocial;
};

// Pending payments of one payment form on the fiscal coupon, with their total.
struct TKoCliSiTefGrupoRespostasPendentes {
  std::string IndiceFPG_ECF;
  int32_t OrdemPagamento = 0;
  platform::Currency Total;
};
using TKoCliSiTefArrayGrupoRespostasPendentes = std::vector<TKoCliSiTefGrupoRespostasPendentes>;

// Serves one dialogue at a time and takes no locks: the caller keeps calls from two threads
// apart. Events are fired on the calling thread before the operation goes on. Failures are the
// component's exceptions (EKoCliSiTef...) or std::runtime_error, with the component's messages.
class TKoCliSiTef {
 public:
  // DiretorioBase is the service's base directory (the executable's directory): the default
  // backup directory is DiretorioBase/TEF. The clock gives the log times, the fiscal dates and the
  // document numbers of the dialogues.
  explicit TKoCliSiTef(std::string DiretorioBase,
                       const platform::Clock& Clock = platform::DefaultClock());
  TKoCliSiTef(const TKoCliSiTef&) = delete;
  TKoCliSiTef& operator=(const TKoCliSiTef&) = delete;
  ~TKoCliSiTef();

  // The component's name as the application knows it ("KoCliSiTef").
  const std::string& Name() const { return fName; }
  const platform::Clock& Clock() const { return fClock; }

  // --- Settings -------------------------------------------------------------------------------
  bool Televenda() const { return fTelevenda; }
  void SetTelevenda(bool value) { fTelevenda = value; }
  std::string About() const { return "KoCliSiTef Ver: 4.3.4"; }
  TKoCliSiTefIdentificacao& Identificacao() { return fIdentificacao; }
  const std::string& ImpressoraCupom() const { return fImpressoraCupom; }
  void SetImpressoraCupom(const std::string& value) { fImpressoraCupom = value; }
  // The next three cannot change while responses are pending.
  bool MultiplosCartoes() const { return fMultiplosCartoes; }
  void SetMultiplosCartoes(bool value);
  bool AutoEfetuarPagamento() const { return fAutoEfetuarPagamento; }
  void SetAutoEfetuarPagamento(bool value);
  bool AutoFinalizarCupom() const { return fAutoFinalizarCupom; }
  void SetAutoFinalizarCupom(bool value);
  // Maximum number of cards of one sale (0: no limit); a negative value is stored as 0.
  int32_t NumeroMaximoCartoes() const { return fNumeroMaximoCartoes; }
  void SetNumeroMaximoCartoes(int32_t value) { fNumeroMaximoCartoes = value < 0 ? 0 : value; }
  bool AutoAtivarGP() const { return fAutoAtivarGP; }
  void SetAutoAtivarGP(bool value) { fAutoAtivarGP = value; }
  bool ExibirMsgAutenticacao() const { return fExibirMsgAutenticacao; }
  void SetExibirMsgAutenticacao(bool value) { fExibirMsgAutenticacao = value; }
  // Receipt copies and the status wait of file-exchange gateways; the CliSiTef gateway keeps its
  // own number of copies.
  int32_t NumVias() const { return fNumVias; }
  void SetNumVias(int32_t value) { fNumVias = value; }
  int32_t EsperaSTS() const { return fEsperaSTS; }
  void SetEsperaSTS(int32_t value) { fEsperaSTS = value; }
  // Pause in milliseconds between the checks of a wait; 10 to 500.
  int32_t EsperaSleep() const { return fEsperaSleep; }
  void SetEsperaSleep(int32_t value);
  // Directory of the backup files; empty reads as DiretorioBase/TEF. Cannot change while the
  // gateway is initialised; stored trimmed, without one trailing "/".
  const std::string& PathBackup();
  void SetPathBackup(const std::string& value);
  // The TEF log file, handed on to the gateways that log where the facade logs.
  const std::string& ArqLOG() const { return fArqLOG; }
  void SetArqLOG(const std::string& value);
  bool CHQEmGerencial() const { return fCHQEmGerencial; }
  void SetCHQEmGerencial(bool value) { fCHQEmGerencial = value; }
  // The most a card payment may exceed the balance by, in currency units (0: no check).
  double TrocoMaximo() const { return fTrocoMaximo; }
  void SetTrocoMaximo(double value) { fTrocoMaximo = value; }
  // Tax numbers handed to the library when both are set.
  const std::string& CNPJLoja() const { return fCNPJLoja; }
  void SetCNPJLoja(const std::string& value) { fCNPJLoja = value; }
  const std::string& CNPJQuirena() const { return fCNPJQuirena; }
  void SetCNPJQuirena(const std::string& value) { fCNPJQuirena = value; }
  TKoCliSiTefCliSiTef& TEFCliSiTef() { return *fTEFCliSiTef; }

  // --- Events (unassigned by default) ---------------------------------------------------------
  TKoCliSiTefAguardaRespEvent OnAguardaResp;
  TKoCliSiTefExibeMsg OnExibeMsg;
  TKoCliSiTefBloqueiaMouseTeclado OnBloqueiaMouseTeclado;
  TKoCliSiTefExecutaAcao OnRestauraFocoAplicacao;
  TKoCliSiTefExecutaAcao OnLimpaTeclado;
  TKoCliSiTefComandaECF OnComandaECF;
  TKoCliSiTefComandaImpressao OnComandaImpressao;
  TKoCliSiTefComandaECFSubtotaliza OnComandaECFSubtotaliza;
  TKoCliSiTefComandaECFPagamento OnComandaECFPagamento;
  TKoCliSiTefComandaECFAbreVinculado OnComandaECFAbreVinculado;
  TKoCliSiTefComandaECFImprimeVia OnComandaECFImprimeVia;
  TKoCliSiTefObterInfoECF OnInfoECF;
  TKoCliSiTefProcessarTransacoesPendentes OnDepoisConfirmarTransacoes;
  TKoCliSiTefAntesCancelarTransacao OnAntesCancelarTransacao;
  TKoCliSiTefProcessarTransacoesPendentes OnDepoisCancelarTransacoes;
  TKoCliSiTefMudaEstadoReq OnMudaEstadoReq;
  TKoCliSiTefMudaEstadoResp OnMudaEstadoResp;
  TKoCliSiTefCliSiTefExibeMenu OnExibeMenu;
  TKoCliSiTefCliSiTefObtemCampo OnObtemCampo;
  TKoCliSiTefCliSiTefObtemCheque OnObtemCheque;
  TKoCliSiTefSenhaConfirmacao OnObterSenha;
  TKoClisiTefCliSiTefExibeQRCode OnExibeQRCode;
  // Fired once an approved payment's backup is on disk, before anything of it is shown or
  // confirmed: the application records the approval where a page can later ask for it.
  std::function<void(const TKoCliSiTefResp& Resp)> OnPaymentBackedUp;

  // --- State ------------------------------------------------------------------------------------
  // The selected gateway type; selecting gpCliSiTef makes the CliSiTef gateway current, any
  // other type leaves the current gateway as it was. After creation: gpTefDial, no gateway.
  TKoCliSiTefTipo GPAtual() const { return fGPAtual; }
  void SetGPAtual(TKoCliSiTefTipo Value);
  // The current gateway; EKoCliSiTefErro "Nenhum Gerenciador Padrão selecionado" before one.
  TKoCliSiTefClass& TEF() const;
  TKoCliSiTefResp& Resp() const { return TEF().Resp(); }
  bool AguardandoResposta() const { return TEF().AguardandoResposta(); }
  bool TecladoBloqueado() const { return false; }
  TKoCliSiTefRespostasPendentes& RespostasPendentes() { return fRespostasPendentes; }
  TKoCliSiTefReqEstado EstadoReq() const { return fEstadoReq; }
  void SetEstadoReq(TKoCliSiTefReqEstado value);
  TKoCliSiTefRespEstado EstadoResp() const { return fEstadoResp; }
  void SetEstadoResp(TKoCliSiTefRespEstado value);
  // Set while the start-up confirmation confirms leftover backups.
  bool TransacaoConfirmada() const { return fTransacaoConfirmada; }
  void SetTransacaoConfirmada(bool value) { fTransacaoConfirmada = value; }
  // Card identification read by LerTrilha3 or LerCartaoSeguro.
  const std::string& IDAmigo() const { return fIDAmigo; }
  void SetIDAmigo(const std::string& value) { fIDAmigo = value; }
  // The first values of the authorisation fields 131 to 135 received since creation.
  const std::string& CodigoRede() const { return fCodigoRede; }
  const std::string& CodigoBandeira() const { return fCodigoBandeira; }
  const std::string& CodigoNsu() const { return fCodigoNsu; }
  const std::string& CodigoNSUHost() const { return fCodigoNSUHost; }
  const std::string& CodigoAutorizacao() const { return fCodigoAutorizacao; }
  // Whether the dialogue asks the user for the service and boarding fees or answers zero.
  bool FornecerTaxaDeServico() const { return fFornecerTaxaDeServico; }
  void SetFornecerTaxaDeServico(bool value) { fFornecerTaxaDeServico = value; }
  bool FornecerTaxaDeEmbarque() const { return fFornecerTaxaDeEmbarque; }
  void SetFornecerTaxaDeEmbarque(bool value) { fFornecerTaxaDeEmbarque = value; }
  bool VisaElectonSaque() const { return fVisaElectonSaque; }
  void SetVisaElectonSaque(bool value) { fVisaElectonSaque = value; }

  // Wallet and customer data of the last dialogue (result fields 106 to 109 and 502 to 504);
  // the dialogue empties them when it starts and keeps the first value of each.
  std::string fIdDaCarteiraDigital;
  std::string fNomeCarteiraDigital;
  std::string fBandeiraCarteiraDigital;
  std::string fValorAprovadoCarteiraDigital;
  std::string fCPFCliente;
  std::string FCNPJCliente;
  std::string fTelefoneCliente;

  // --- Operations -------------------------------------------------------------------------------
  // Initialises a gateway (selecting it) or, with gpNenhum, every enabled gateway. The events
  // OnExibeMsg, OnComandaECF, OnComandaImpressao, OnComandaECFAbreVinculado,
  // OnComandaECFImprimeVia and OnInfoECF must be assigned, and the backup directory must exist or
  // be creatable. Any failure of the gateway leaves it uninitialised and raises
  // "Erro ao conectar com servidor TEF".
  void Inicializar(TKoCliSiTefTipo GP = gpNenhum);
  void DesInicializar(TKoCliSiTefTipo GP = gpNenhum);
  bool Inicializado(TKoCliSiTefTipo GP = gpNenhum);
  void AtivarGP(TKoCliSiTefTipo GP = gpNenhum);
  void ATV(TKoCliSiTefTipo GP = gpNenhum);
  bool ADM(TKoCliSiTefTipo GP = gpNenhum);
  // Payment operations on the current gateway; amounts in currency units, rounded to 1/10000
  // with ties to even.
  bool CRT(double Valor, const std::string& IndiceFPG_ECF, const std::string& DocumentoVinculado,
           int32_t Moeda, const std::string& NumeroCartaoDigitado,
           const std::string& DataVencimentoDigitado, const std::string& CVVDigitado,
           const std::string& QtdParcela);
  bool CHQ(double Valor, const std::string& IndiceFPG_ECF, const std::string& DocumentoVinculado,
           const std::string& CMC7, char TipoPessoa, const std::string& DocumentoPessoa,
           platform::TDateTime DataCheque, const std::string& Banco, const std::string& Agencia,
           const std::string& AgenciaDC, const std::string& Conta, const std::string& ContaDC,
           const std::string& Cheque, const std::string& ChequeDC, const std::string& Compensacao);
  bool CNC(const std::string& Rede, const std::string& NSU, platform::TDateTime DataHoraTransacao,
           double Valor);
  void CNF(const std::string& Rede, const std::string& NSU, const std::string& Finalizacao,
           const std::string& DocumentoVinculado);
  void NCN(const std::string& Rede, const std::string& NSU, const std::string& Finalizacao,
           double Valor, const std::string& DocumentoVinculado);
  // Confirms (or undoes) a transaction of the CliSiTef gateway; false instead of a failure.
  bool ConfirmarTransacao(bool Confirma, const std::string& DocumentoVinculado);
  // Reverses every backup of the enabled gateways, reports the pending list through
  // OnDepoisCancelarTransacoes and empties it.
  void CancelarTransacoesPendentes();
  // The same for the backup files named in pArquivos only (paths as the CliSiTef gateway's
  // ArquivosBackup gives them): the reversal of what one client left, which must not touch
  // another client's payments.
  void CancelarTransacoesPendentes(const std::vector<std::string>& pArquivos);
  // Confirms every pending response, deletes its backup, reports the list through
  // OnDepoisConfirmarTransacoes and empties it. A record whose confirmation fails keeps its
  // backup file, so that the next start-up confirmation completes it.
  void ConfirmarTransacoesPendentes();
  // The CliSiTef gateway has nothing to print before it confirms: does nothing.
  void ConfirmarESolicitarImpressaoTransacoesPendentes() {}
  // Card readings on the current gateway; the card's identification lands in IDAmigo.
  std::string LerTrilha3();
  std::string LerCartaoSeguro();

  // --- Helpers the gateways call ----------------------------------------------------------------
  // Logs the message and fires OnExibeMsg with the text as Windows-1252 can hold it; returns the
  // handler's modal result (0 when unassigned).
  int DoExibeMsg(TKoCliSiTefOperacaoMensagem Operacao, const std::string& Mensagem);
  // Mouse and keyboard are never locked: does nothing.
  void BloquearMouseTeclado(bool /*Bloqueia*/) {}
  // Fires OnLimpaTeclado; there is no keyboard queue of the service's own to empty.
  void LimparTeclado();
  // Fires OnRestauraFocoAplicacao; there is no window of the service's own to bring forward.
  void RestaurarFocoAplicacao();
  // Writes a line to the current gateway's log (the CliSiTef gateway's before one is current).
  void GravaLog(std::string_view texto) const;
  // Waits until the given moment, pausing EsperaSleep milliseconds between checks.
  void EsperarAte(std::chrono::steady_clock::time_point Limite) const;

  // --- Receipts and fiscal printer (KoCliSiTefImpressao.cpp) -----------------------------------
  // Prints the receipts of every pending response, then confirms them; when printing fails and
  // the operator declines to retry, reverses them instead.
  void ImprimirTransacoesPendentes();
  void FinalizarCupom(bool DesbloquearMouseTecladoNoTermino);
  // The pending responses grouped by payment form and payment order, in ascending order.
  void AgruparRespostasPendentes(TKoCliSiTefArrayGrupoRespostasPendentes& Grupo);
  std::string InfoECFAsString(TKoCliSiTefInfoECF Operacao);
  double InfoECFAsDouble(TKoCliSiTefInfoECF Operacao, int32_t DefaultValue);
  // The printer state letter (C, G, L, N, O, P, R or V).
  char EstadoECF();
  int32_t ComandarECF(TKoCliSiTefOperacaoECF Operacao);
  int32_t ECFSubtotaliza(double DescAcres);
  int32_t ECFPagamento(const std::string& Indice, double Valor);
  int32_t ECFAbreVinculado(const std::string& COO, const std::string& Indice, double Valor);
  int32_t ECFImprimeVia(TKoCliSiTefTipoRelatorio TipoRelatorio, int32_t Via,
                        const std::vector<std::string>& ImagemComprovante);

 private:
  void CancelarTransacoesPendentesFiltradas(
      const std::function<bool(const std::string&)>& pIncluir);
  friend class TKoCliSiTefCliSiTef;

  // The gateway whose log and name the facade's own lines use.
  const TKoCliSiTefClass& GatewayDoLog() const;
  // Refuses a change of a setting that pending responses depend on.
  void VerificaSemRespostasPendentes(const char* propriedade) const;

  // Printing passes of ImprimirTransacoesPendentes.
  void ImprimirPassagemGerencial(std::string& MsgsExibir, bool& MsgExibida);
  void ImprimirPassagemVinculado(const TKoCliSiTefArrayGrupoRespostasPendentes& Grupos,
                                 bool& Gerencial, std::string& MsgsExibir, bool& MsgExibida);
  // Steps of one record shared by both passes: selecting its gateway, counting its copies and
  // showing its special texts; then ending their display and collecting its authentication text.
  int32_t PrepararRegistro(const TKoCliSiTefResp& Registro,
                           std::chrono::steady_clock::time_point& Inicio, bool& MsgExibida);
  void ConcluirRegistro(const TKoCliSiTefResp& Registro, bool Ultimo,
                        std::chrono::steady_clock::time_point Inicio, std::string& MsgsExibir,
                        bool& MsgExibida);
  // Removes the operator's and the customer's messages.
  void RemoverMensagens();

  std::string fName = "KoCliSiTef";
  std::string fDiretorioBase;
  const platform::Clock& fClock;

  bool fTelevenda = false;
  TKoCliSiTefIdentificacao fIdentificacao;
  std::string fImpressoraCupom;
  bool fMultiplosCartoes = false;
  int32_t fNumeroMaximoCartoes = 0;
  bool fAutoAtivarGP = true;
  bool fExibirMsgAutenticacao = true;
  bool fAutoEfetuarPagamento = false;
  bool fAutoFinalizarCupom = true;
  int32_t fNumVias = 2;
  int32_t fEsperaSTS = 7;
  int32_t fEsperaSleep = 250;
  std::string fPathBackup;
  std::string fArqLOG;
  bool fCHQEmGerencial = false;
  double fTrocoMaximo = 0;
  std::string fCNPJLoja;
  std::string fCNPJQuirena;

  TKoCliSiTefClassList fGateways;
  TKoCliSiTefRespostasPendentes fRespostasPendentes;
  TKoCliSiTefCliSiTef* fTEFCliSiTef = nullptr;
  TKoCliSiTefClass* fTEF = nullptr;
  TKoCliSiTefTipo fGPAtual = gpNenhum;
  TKoCliSiTefReqEstado fEstadoReq = reqNenhum;
  TKoCliSiTefRespEstado fEstadoResp = respNenhum;
  bool fTransacaoConfirmada = false;
  std::string fIDAmigo;
  std::string fCodigoRede;
  std::string fCodigoBandeira;
  std::string fCodigoNsu;
  std::string fCodigoNSUHost;
  std::string fCodigoAutorizacao;
  bool fFornecerTaxaDeServico = false;
  bool fFornecerTaxaDeEmbarque = false;
  bool fVisaElectonSaque = false;
};

}  // namespace kelvora::tef
