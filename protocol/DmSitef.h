// The data module TDmSitef: the state the client protocol and the payment dialogue share, the
// routing of every request to its handler, sessions, the non-payment queries, the payment dialogue
// (request, prompt relay, outcome), the sales-API callback, and the one TEF component with its
// fixed configuration.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ansi.h"
#include "platform/Currency.h"
#include "platform/DateTime.h"
#include "protocol/Json.h"
#include "protocol/JwtSecret.h"
#include "protocol/OperationJournal.h"
#include "protocol/SaleReportOutbox.h"
#include "protocol/Sessions.h"
#include "service/Connection.h"
#include "service/KelvoraSiTefService.h"
#include "service/MessageHandler.h"
#include "tef/KoCliSiTef.h"

namespace kelvora::protocol {

// How long a session is accepted after its start; using it does not extend it.
inline constexpr std::chrono::seconds kSessionLifetime{1800};
// [server] max_sessions when the configuration file sets none or a number below 1: far more than
// the tills one service serves, at a few KiB each at most.
inline constexpr int32_t kDefaultMaxSessions = 256;
// The longest session token and the longest text of one of its claims taken: a session keeps
// copies of its claims, so their size bounds what each session may cost.
inline constexpr size_t kMaxTokenLength = 16 * 1024;
inline constexpr size_t kMaxClaimLength = 2 * 1024;

// The CliSiTef gateway's settings as the last session start left them. Session starts write them
// here, under the data module's state lock, and they reach the gateway when the next operation
// takes the component, so that a session start never waits for, nor changes the settings under,
// a payment another connection is running.
struct TGatewaySettings {
  bool ModoServico = false;
  std::string PathDLL;
  std::string NomeDLL;
  std::string EnderecoIP;
  std::string CodigoLoja;
  std::string NumeroTerminal;
  std::vector<std::string> ParametrosAdicionais;
  std::string Operador;
  std::string Restricoes;
};

// The kind of "/transaction" request being carried out ("transaction", "cancellation",
// "reprint"); ttNenhum outside one.
enum TTipoTransacao : int { ttNenhum, ttTransacao, ttCancelamento, ttReimpressao };

class TDmSitef;

// The TEF component, held by one thread: while an instance lives no other thread is inside the
// component, the gateway carries the settings of the last session start, and FIdContext names the
// connection of the operation, to which the component's events send their prompts.
class TKoCliSiTefAccess {
 public:
  ~TKoCliSiTefAccess();
  TKoCliSiTefAccess(const TKoCliSiTefAccess&) = delete;
  TKoCliSiTefAccess& operator=(const TKoCliSiTefAccess&) = delete;

  tef::TKoCliSiTef& operator*() const;
  tef::TKoCliSiTef* operator->() const { return &**this; }

 private:
  friend class TDmSitef;
  TKoCliSiTefAccess(TDmSitef& owner, std::unique_lock<std::mutex> lock,
                    service::Connection* pIdContext, const TSession* pSession);

  TDmSitef& fOwner;
  std::unique_lock<std::mutex> fLock;
};

// One instance per process, shared by every connection thread. Locks:
// - FSessionList has its own;
// - fStateLock guards the staged gateway settings, the session of the running dialogue and the
//   backups each connection left (held only for copies);
// - fTefLock admits one thread at a time into KoCliSiTef; a payment holds it for its whole
//   dialogue. It is only taken through AcquireKoCliSiTef (or try-locked by OnDisconnect), and
//   fStateLock may be taken while holding it, never the other way round;
// - fProcessando is atomic: claiming it with exchange(true) is how a TEF operation keeps a second
//   one from even queueing behind it.
class TDmSitef final : public service::MessageHandler {
 public:
  // DataModuleCreate: an empty session list, the component with its fixed configuration and the
  // TEF log named for today. The service module must outlive the data module.
  explicit TDmSitef(service::TKelvoraSiTefService& pService,
                    const platform::Clock& pClock = platform::DefaultClock());
  // DataModuleDestroy: the sessions, then the component.
  ~TDmSitef() override;
  TDmSitef(const TDmSitef&) = delete;
  TDmSitef& operator=(const TDmSitef&) = delete;

  // --- Server hooks -----------------------------------------------------------------------------
  // Logged once the service start is: whether the token key in force is the installation's own,
  // the built-in one (any copy of the program can sign tokens for this till) or none.
  void OnServiceStart() override;
  void OnServiceStop() override;
  // Marks the library to be set up afresh by the next operation: after sleep its connection and
  // the pin-pad's may be gone, or the library itself replaced. A payment running now keeps it.
  void OnServiceResume() override;
  // Routes one request received on pIdContext; every reply goes back on pIdContext. Text that is
  // not JSON, and JSON that is not an object, are dropped without a reply.
  void RouteTargeting(std::string_view pContent, service::Connection& pIdContext) override;
  // Clears FProcessandoMsg unless another connection's operation holds the component.
  void OnExecuteEnd(service::Connection& pIdContext) override;
  // Reverses the backups that pIdContext's own dialogues left unconfirmed (a reversal that failed
  // when the dialogue ended), and nothing else: a connection that started nothing touches no
  // backup, and one client leaving never undoes another's payment nor a leftover of an earlier
  // process, which the next initialisation confirms. Skipped, and logged, while another
  // connection's operation holds the component.
  void OnDisconnect(service::Connection& pIdContext) override;
  size_t SessionCount() const override { return FSessionList.Count(); }
  bool OperationRunning() const override { return fProcessando.load(); }

  // --- Envelope -------------------------------------------------------------------------------
  // {"type":"error","message":pMessage} in the service's compact form.
  static std::string BuildErrorMessage(std::string_view pMessage);
  // Sends one text frame on pIdContext; a closed connection raises.
  static void SendClientMessage(service::Connection& pIdContext, std::string_view pMsg);
  static void SendErrorMessage(service::Connection& pIdContext, std::string_view pMessage);
  static void SendJson(service::Connection& pIdContext, const Json& pMessage);

  // --- Sessions (SessionRequests.cpp) -----------------------------------------------------------
  // "/session/start": verifies the token, stages the gateway settings, stores the sale and opens
  // a session. Errors it answers itself; one that escapes is the router's "Dados de sessão
  // inválidos.".
  void CreateSession(const Json& pConfig, service::Connection& pIdContext);
  // The session named by "session_uuid" when it is open and not expired; otherwise the error
  // reply has been sent (an expired session is removed) and the result is empty.
  std::optional<TSession> ValidateSession(const Json& pContent, service::Connection& pIdContext);
  // [server] max_sessions, read at each session start.
  size_t MaxSessions() const;
  void LogSessionLimit(size_t pLimit);
  // Says once per address, in the service log, that reports to it travel in clear.
  void WarnPlainHttpCallback(const std::string& pCallbackURL);
  // "/session/finish".
  void FinishSession(const Json& pContent, const TSession* pSession,
                     service::Connection& pIdContext);
  // A local date-time as UTC text, 2025-10-07T17:33:22.123Z. A local time that does not exist
  // (inside a daylight-saving gap) raises std::runtime_error.
  static std::string LocalToUTCISO8601(platform::TDateTime pDateTime);
  // "AG", the sectional code padded with zeros or cut to 4 characters, then pdv_number in
  // decimal padded with zeros or cut to 2 characters: ("12", 3) gives AG001203.
  static std::string TerminalNumber(std::string_view pSectionalCode, int32_t pPdvNumber);

  // --- Queries (Queries.cpp) --------------------------------------------------------------------
  void InitializeSiTef(const Json& pContent, const TSession* pSession,
                       service::Connection& pIdContext);
  void CheckPinpad(const Json& pContent, const TSession* pSession, service::Connection& pIdContext);
  void CheckFileVersion(const Json& pContent, const TSession* pSession,
                        service::Connection& pIdContext);
  // The file version of the note in pFileName, or "Versão não encontrada".
  std::string QueriedLibraryFile() const;
  static std::string GetFileVersionText(const std::string& pFileName);

  // --- Sales API (SaleCallback.cpp) -------------------------------------------------------------
  // Posts the approved outcome message to the sales API of pSale (the session of the payment, or
  // the one its backup names) and writes "payment_id" and "company_id" into its first
  // "transaction_data" element. Without a usable token key the report is kept for later. Any
  // failure of the call (no answer, an answer outside 200 to 204, a body that cannot be read) is
  // logged and gives "payment_id" 0: it never raises, so the client always receives the outcome.
  // True only for an answer from 200 to 204 that could be read. The report is kept in fSaleReports
  // until the API answers; one it did not answer is posted again later by the outbox's worker.
  bool SendSaleCallback(Json& pMessage, const TSaleData& pSale,
                        std::string* pReportEventId = nullptr);
  // The callback address for an API base address that ends with "/", signed with pSecret.
  static std::string CallbackAddress(const std::string& pCallbackURL, const std::string& pSecret);
  // One more attempt at a report kept in the outbox (its worker's delivery).
  TReportDelivery DeliverSaleReport(const TSaleReport& pReport, const std::atomic<bool>& pStop);
  // Sets pKey to pValue in the first element of pMessage's "transaction_data", after removing
  // it, so it ends that element. False, changing nothing, when there is no such element.
  static bool SetTransactionDataValue(Json& pMessage, std::string_view pKey, const Json& pValue);

  // --- State, for the handlers and for tests -----------------------------------------------------
  TGatewaySettings GatewaySettings() const;
  const TSessionList& Sessions() const { return FSessionList; }
  // The token secret in force (read from the configuration file at this call).
  TJwtSecret JwtSecret() const;

  // Takes the component for the calling thread, waiting while another thread holds it. The
  // operation acts for pSession (its sale, for a leftover payment the start-up confirmation finds
  // without one of its own); none for an operation of no session.
  TKoCliSiTefAccess AcquireKoCliSiTef(service::Connection& pIdContext,
                                      const TSession* pSession = nullptr);

  // --- Transaction request (TransactionRequest.cpp) --------------------------------------------
  // "/transaction": validates the request, stores its values and runs the whole payment,
  // cancellation or reprint dialogue on the calling thread. Refusals and failures are answered
  // here; an approved outcome is sent by KoCliSiTefDepoisConfirmarTransacoes. A request that
  // arrives while another TEF operation runs gets no reply and changes nothing.
  void StartTransaction(const Json& pContent, const TSession* pSession,
                        service::Connection& pIdContext);

  // --- What became of an operation (OperationStatus.cpp) -----------------------------------------
  // "/transaction/status": the journal's operations of a key or a sale, and what runs on the till
  // now. Answered at once, whatever runs.
  void TransactionStatus(const Json& pContent, const TSession* pSession,
                         service::Connection& pIdContext);
  // The outcome the page got (or would have got) for an ended operation, marked "replayed".
  static Json ReplayedResult(const TJournalOperation& pOperation);
  // One operation as the status reply lists it.
  static Json OperationStatusElement(const TJournalOperation& pOperation);
  const TOperationJournal& Journal() const { return fJournal; }
  // "2024-01-05 10:30:00" as "05/01/2024 10:30:00": the year, month and day are taken from their
  // places in the first space-separated part (exactly 10 characters), the time from the second
  // (at least 8). A malformed text gives one of the texts "Formato de data inválido", "... Formato
  // de hora inválido" or "Formato inválido", which ParseTransactionDate refuses.
  static std::string FormatTransactionDate(std::string_view pText);
  // The local date-time of a "dd/mm/yyyy" or "dd/mm/yyyy hh:nn:ss" text; nullopt when the text
  // has another shape or names no real date or time.
  static std::optional<platform::TDateTime> ParseTransactionDate(std::string_view pText);

  // --- Prompt relay (PromptRelay.cpp) ----------------------------------------------------------
  // A "cancellation" message, routed as "/transaction/cancel" (from any connection) or read by a
  // wait of the running dialogue: marks the dialogue for interruption while the client may
  // cancel, when pSession_UUID names the session that started the dialogue; one of another
  // session is ignored and logged. Sends no reply; a missing "type" raises.
  void CancelTransactionInProgress(const Json& pContent, std::string_view pSession_UUID);
  // The index (from 0) of the first option equal to pResponse, trimmed and compared without
  // regard to letter case (Windows-1252 letters included); -1 when none is.
  static int32_t MenuItemIndex(const std::vector<std::string>& pOpcoes, std::string_view pResponse);

  // --- Transaction outcome (TransactionOutcome.cpp) ---------------------------------------------
  // One element of an approved result's "transaction_data" for the response pResp of a request
  // of kind pTipo: a reprint element ("sale_id", "operation" "reprint", "receipt") for every
  // response of a reprint and for the reprint functions 113 and 114, otherwise the payment data
  // with "operation" "debit", "credit", "pix" or, for a response that cancels an earlier payment,
  // "cancellation".
  static Json BuildTransactionElement(const tef::TKoCliSiTefResp& pResp, int32_t pVenda_Id,
                                      const std::string& pPayerName, TTipoTransacao pTipo);
  // A local date-time as UTC text without fractions, 2024-01-05T13:30:00Z. A local time that does
  // not exist (inside a daylight-saving gap) is read with the offset in force after the gap.
  static std::string TransactionDateTimeUTC(platform::TDateTime pLocal);

 private:
  friend class TKoCliSiTefAccess;

  using THandler = void (TDmSitef::*)(const Json&, const TSession*, service::Connection&);
  struct TRoute {
    std::string_view Route;
    bool CheckSession;
    THandler Handler;
  };
  // The route table; a route not listed is checked for its session and then gets no reply.
  static const TRoute* FindRoute(std::string_view pRoute);

  // Binds every event of the component to its handler (DmSitefEventos.cpp).
  void BindKoCliSiTefEvents();
  // "/transaction/cancel" as the route table calls it.
  void CancelTransactionRoute(const Json& pContent, const TSession* pSession,
                              service::Connection& pIdContext);

  // Handlers with fixed answers (DmSitefEventos.cpp): there is no fiscal printer, no keyboard
  // and no window of the service's own, and every printer command succeeds.
  void KoCliSiTefRestauraFocoAplicacao(bool& Tratado);
  void KoCliSiTefComandaECF(tef::TKoCliSiTefOperacaoECF Operacao, tef::TKoCliSiTefResp& Resp,
                            int32_t& RetornoECF);
  void KoCliSiTefComandaImpressao(int32_t& RetornoImpressao, tef::TKoCliSiTefResp& Resp,
                                  bool Cancelado);
  void KoCliSiTefComandaECFPagamento(const std::string& IndiceECF, platform::Currency Valor,
                                     int32_t& RetornoECF);
  void KoCliSiTefComandaECFAbreVinculado(const std::string& COO, const std::string& IndiceECF,
                                         platform::Currency Valor, int32_t& RetornoECF);
  void KoCliSiTefObtemCheque(const std::string& Titulo, int32_t TipoCampo,
                             tef::TKoCliSiTefCliSiTefOperacaoCampo Operacao,
                             platform::AnsiString& Resposta, bool& Digitado, bool& VoltarMenu);
  void KoCliSiTefObterSenha(const std::string& Titulo, bool& VoltarMenu);
  void KoCliSiTefAntesCancelarTransacao(tef::TKoCliSiTefResp& RespostaPendente);
  void KoCliSiTefDepoisCancelarTransacoes(tef::TKoCliSiTefRespostasPendentes& RespostasPendentes);
  // An approval whose backup is on disk: the journal records it before the page hears of it.
  void KoCliSiTefPaymentBackedUp(const tef::TKoCliSiTefResp& Resp);
  // The journal's operation a response belongs to: the one its backup names, or the running one.
  std::string OperationOfResponse(const tef::TKoCliSiTefResp& pResp) const;
  // Whether a backup on disk belongs to the operation; fTefLock held or no operation running.
  bool OperationBackedUp(const std::string& pOperationId);
  // Records how the running operation ended, unless a settlement (approval, confirmation,
  // reversal) already decides it.
  void EndRunningOperation(std::string_view pEvent, const std::string& pReason);

  // The prompt relay (PromptRelay.cpp): each event of the dialogue becomes a message to the
  // connection holding the component and, where the library needs an answer, a wait for the
  // client's answer on that same connection. Without a connection (the disconnect's reversal of
  // pending payments) nothing is shown and the outputs stay as the component set them.
  void KoCliSiTefAguardaResp(const std::string& Arquivo, int32_t SegundosTimeOut,
                             bool& Interromper);
  void KoCliSiTefExibeMsg(tef::TKoCliSiTefOperacaoMensagem Operacao, const std::string& Mensagem,
                          int& AModalResult);
  void KoCliSiTefExibeMenu(const std::string& Titulo, const std::vector<std::string>& Opcoes,
                           int32_t& ItemSelecionado, bool& VoltarMenu);
  void KoCliSiTefObtemCampo(const std::string& Titulo, int32_t TamanhoMinimo, int32_t TamanhoMaximo,
                            int32_t TipoCampo, tef::TKoCliSiTefCliSiTefOperacaoCampo Operacao,
                            platform::AnsiString& Resposta, bool& Digitado, bool& VoltarMenu);
  void KoCliSiTefExibeQRCode(const std::string& QRCode);
  void KoCliSiTefMudaEstadoReq(tef::TKoCliSiTefReqEstado EstadoReq);
  void KoCliSiTefMudaEstadoResp(tef::TKoCliSiTefRespEstado EstadoResp);
  // The body of KoCliSiTefExibeMsg; its errors are answered by the caller.
  void ControlDisplayMessage(const std::string& pMessage,
                             tef::TKoCliSiTefOperacaoMensagem pOperation, int& pModalResult);
  // The client's next message to the running dialogue: the one the listener kept (taken once), or
  // the next text frame. An object routed "/transaction" is the answer, unless it is a new request
  // ("type" "transaction", "cancellation" or "reprint"), which is dropped while the wait goes on;
  // "/transaction/cancel" is handed to CancelTransactionInProgress (one that stands gives no
  // answer, nullopt; one that does not stand is dropped and the wait goes on),
  // "/transaction/status" is answered and the wait goes on, and any other route and text that is
  // not JSON give no answer. A missing "route" is answered with its error reply; JSON that is not
  // an object raises.
  std::optional<Json> WaitClientMessage();
  // A status request read by the dialogue's own waits, answered on its connection (the route's
  // session check included).
  void AnswerStatusDuringDialogue(const Json& pMessage);
  // Reads one frame that is arriving while the library waits: a cancellation marks the dialogue
  // for interruption, anything else is kept for the next WaitClientMessage.
  void ListenForCancellation();
  // The session of the dialogue holding the component; empty when none.
  std::string SessaoEmCurso() const;
  // The "session_uuid" of a message read by the dialogue's own waits, the dialogue's session when
  // it names none.
  std::string SessionNamedBy(const Json& pMessage) const;
  // Sets fPodeCancelar and announces it with a "can_cancel" message.
  void SetCanCancel(bool value);
  // Announces that the page may no longer cancel, when the last announcement said it could: the
  // library moved on from its wait (the card was read), or the dialogue ended.
  void AnnounceCancelEnded();
  // The answers to a menu, a field and a question. WaitFieldAnswer tells whether the client typed
  // a value or went back.
  void WaitMenuAnswer(const std::vector<std::string>& Opcoes, int32_t& ItemSelecionado,
                      bool& VoltarMenu);
  bool WaitFieldAnswer(platform::AnsiString& Resposta, bool& VoltarMenu);
  void WaitQuestionAnswer(int& ModalResult);
  // Asks the client to confirm the pending cancellation; true when it stands.
  bool ConfirmCancellation();
  // Sends one prompt-shaped message ("message", "question", "confirmation").
  void SendPrompt(std::string_view pType, const std::string& pMessage,
                  std::initializer_list<std::string_view> pOptions);
  // The countdown of a receipt copy to tear off.
  void DestaqueVia(const std::string& pMessage);

  // The outcome handlers (TransactionOutcome.cpp).
  void KoCliSiTefDepoisConfirmarTransacoes(tef::TKoCliSiTefRespostasPendentes& RespostasPendentes);
  void KoCliSiTefComandaECFImprimeVia(tef::TKoCliSiTefTipoRelatorio TipoRelatorio, int32_t Via,
                                      const std::vector<std::string>& ImagemComprovante,
                                      int32_t& RetornoECF);
  void KoCliSiTefInfoECF(tef::TKoCliSiTefInfoECF Operacao, std::string& RetornoECF);

  // Brings the gateway up to the staged settings; fTefLock held.
  void ApplyGatewaySettings();
  // The outcome of the confirmed responses of pRespostas at pIndices, which share one sales API:
  // reported to it, then sent to the client.
  void ReportConfirmedGroup(const tef::TKoCliSiTefRespostasPendentes& pRespostas,
                            const std::vector<int>& pIndices, const TSaleData& pSale,
                            const std::string& pOperacao);
  // The sale a confirmed response is reported for: the running dialogue's, or for a leftover of
  // an earlier process the one its backup names (what it does not name is the operation's).
  TSaleData SaleOfResponse(const tef::TKoCliSiTefResp& pResp) const;
  // The backup files now on disk that were not in pAntes: what the dialogue that just ended left.
  std::vector<std::string> NewBackups(const std::vector<std::string>& pAntes);
  // The component's initialisation for the CliSiTef gateway unless it is initialised already; an
  // initialisation that loaded the simulator says so in the service log, so that a till can
  // never take simulated payments for real ones, and one that could not load the library writes
  // the loader's reason there (the page only hears that the connection failed). After a resume
  // the library is released first and set up again, as after a restart.
  void EnsureInicializado(tef::TKoCliSiTef& pKoCliSiTef);
  void Log(std::string_view pText) const { FService.GravaLog(pText); }
  // A report the sales API did not take: in the service log and in the system's
  // (PaymentEvents.cpp).
  void LogSaleReportFailure(std::string_view pText) const;

  service::TKelvoraSiTefService& FService;
  const platform::Clock& FClock;
  // The version of the running executable, read once: the image a process runs cannot change
  // under it (a package upgrade replaces the file by another one, which takes effect at the
  // restart), and "/version" is asked often enough for a file lookup per request to show.
  const std::string FServiceExeVersion;

  // Only the thread holding fTefLock touches the component and FIdContext.
  std::mutex fTefLock;
  tef::TKoCliSiTef KoCliSiTef;
  service::Connection* FIdContext = nullptr;
  // The connection whose operation holds the component (its Id; 0 when none), for the checks of
  // other connections' threads.
  std::atomic<uint64_t> fIdContextEmOperacao{0};

  // The sale of the operation holding the component: its session's, with the request's "sale_id"
  // when it gave one; fixed for the whole dialogue.
  TSaleData fVendaEmCurso;

  // State of the running payment dialogue (request, prompts, outcome), touched by the thread
  // holding fTefLock; the flags a routed request of another connection may read or set are atomic.
  // fProcessando is cleared only by the request that claimed it.
  std::string fUltimaMsg;
  std::string fLastContentReceived;
  std::string fPayerName;
  std::atomic<bool> fPodeCancelar{false};
  std::atomic<bool> fCancelado{false};
  std::atomic<bool> fProcessando{false};
  std::atomic<bool> fConcluido{false};
  // The client's cancellation has been passed to the library (an interruption at a wait, or a
  // cancellation confirmed at a menu or field): the dialogue ended as "canceled".
  bool fInterrompido = false;
  TTipoTransacao fTipoEmCurso = ttNenhum;
  platform::Currency fValorTransacao;
  int32_t fOperacao = 0;
  int32_t fQtdParcelas = 0;
  // Set while the listener reads a frame; WaitClientMessage waits on fRespCancLivre until it is
  // clear.
  std::mutex fRespCancLock;
  std::condition_variable fRespCancLivre;
  bool FAguardandoRespCanc = false;
  std::atomic<bool> FProcessandoMsg{false};

  // Staged gateway settings of the last session start; the session of the dialogue holding the
  // component (empty when none), which alone may cancel it; per connection, the backups its
  // dialogues left unconfirmed, which its end reverses.
  mutable std::mutex fStateLock;
  TGatewaySettings fGatewaySettings;
  std::string fSessaoEmCurso;
  std::map<uint64_t, std::vector<std::string>> fBackupsPorConexao;

  TSessionList FSessionList;
  // When the session limit was last logged (FClock's time), under fStateLock.
  std::optional<std::chrono::system_clock::time_point> fLastSessionLimitLog;
  // Callback addresses already warned about as plain http off the loopback, under fStateLock.
  std::set<std::string> fAvisosHttp;

  // The journal of payments and cancellations, and the one running now (its journal entry; empty
  // Id when none), which the status route reads under fStateLock.
  TOperationJournal fJournal;
  TJournalOperation fOperacaoEmCurso;
  // The last confirmation or message text of the running dialogue: why it ended, for the journal.
  std::string fUltimoTextoDialogo;
  // Operations of an earlier process confirmed by the initialisation running now: the prompt that
  // follows them is theirs, not the page's current operation's.
  struct TRecuperada {
    int32_t Venda_Id = 0;
    std::string Chave;
  };
  std::vector<TRecuperada> fRecuperadas;
  // Settings the library was configured with by the last initialisation: a session that names
  // another terminal, store or address makes the next operation configure it again.
  std::optional<TGatewaySettings> fConfiguradoCom;

  // Reports the sales API has not answered yet. Declared last: its worker delivers reports left
  // by an earlier process from construction on, and must have stopped before anything it uses
  // is destroyed.
  TSaleReportOutbox fSaleReports;
  // Set while the service stops: a report being posted is given up (it stays in the outbox for the
  // next start) rather than holding the stop for up to a minute.
  std::atomic<bool> fStopping{false};
  // Set by a resume, taken by the next EnsureInicializado.
  std::atomic<bool> fInicializarDeNovo{false};
};

}  // namespace kelvora::protocol
