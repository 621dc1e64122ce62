// The data module's life, its hold on the TEF component, the envelope and the routing of requests.
#include "protocol/DmSitef.h"

#include <algorithm>
#include <exception>

#include "metrics/Telemetry.h"
#include "platform/Paths.h"
#include "protocol/JwtSecret.h"
#include "protocol/PaymentEvents.h"
#include "service/ServiceLog.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tokens/Secret.h"

namespace kelvora::protocol {
TKoCliSiTefAccess::TKoCliSiTefAccess(TDmSitef& owner, std::unique_lock<std::mutex> lock,
                                     service::Connection* pIdContext, const TSession* pSession)
    : fOwner(owner), fLock(std::move(lock)) {
  fOwner.FIdContext = pIdContext;
  fOwner.fIdContextEmOperacao = pIdContext != nullptr ? pIdContext->Id() : 0;
  fOwner.fVendaEmCurso = pSession != nullptr ? pSession->Sale() : TSaleData{};
  {
    std::lock_guard state(fOwner.fStateLock);
    fOwner.fSessaoEmCurso = pSession != nullptr ? pSession->Session_UUID() : std::string();
  }
  fOwner.ApplyGatewaySettings();
}

TKoCliSiTefAccess::~TKoCliSiTefAccess() {
  fOwner.FIdContext = nullptr;
  fOwner.fIdContextEmOperacao = 0;
  fOwner.fVendaEmCurso = {};
  std::lock_guard state(fOwner.fStateLock);
  fOwner.fSessaoEmCurso.clear();
}

tef::TKoCliSiTef& TKoCliSiTefAccess::operator*() const {
  return fOwner.KoCliSiTef;
}

TDmSitef::TDmSitef(service::TKelvoraSiTefService& pService, const platform::Clock& pClock)
    : FService(pService),
      FClock(pClock),
      FServiceExeVersion(GetFileVersionText(platform::ExecutablePath().string())),
      KoCliSiTef(pService.Options().BaseDir.string(), pClock),
      fJournal(pService.Options().BaseDir, pClock),
      fSaleReports(
          pService.Options().BaseDir / "TEF" / "RegistrosAPI",
          [this](const TSaleReport& report, const std::atomic<bool>& stop) {
            return DeliverSaleReport(report, stop);
          },
          [this](std::string_view text) { Log(text); }) {
  // The component's fixed configuration.
  KoCliSiTef.SetTelevenda(false);
  KoCliSiTef.Identificacao().SetNomeAplicacao("Lumo XE2");
  KoCliSiTef.Identificacao().SetVersaoAplicacao("1.0.12");
  KoCliSiTef.Identificacao().SetSoftwareHouse("Tarvosa");
  KoCliSiTef.Identificacao().SetRazaoSocial("Tarvosa transportes");
  KoCliSiTef.SetEsperaSTS(7);
  BindKoCliSiTefEvents();
  // The TEF log keeps the name of the day the data module was created.
  KoCliSiTef.SetArqLOG(
      service::TefLogFileName(pService.Options().BaseDir, platform::Now(FClock)).string());

  // Until a session start decides otherwise, the staged settings are the gateway's own.
  const tef::TKoCliSiTefCliSiTef& gateway = KoCliSiTef.TEFCliSiTef();
  fGatewaySettings.ModoServico = gateway.ModoServico();
  fGatewaySettings.PathDLL = gateway.PathDLL();
  fGatewaySettings.NomeDLL = gateway.NomeDLL();
  fGatewaySettings.EnderecoIP = gateway.EnderecoIP();
  fGatewaySettings.CodigoLoja = gateway.CodigoLoja();
  fGatewaySettings.NumeroTerminal = gateway.NumeroTerminal();
  fGatewaySettings.ParametrosAdicionais = gateway.ParametrosAdicionais();
  fGatewaySettings.Operador = gateway.Operador();
  fGatewaySettings.Restricoes = gateway.Restricoes();
}

TDmSitef::~TDmSitef() = default;

std::string TDmSitef::BuildErrorMessage(std::string_view pMessage) {
  Json reply = Json::object();
  reply["type"] = "error";
  reply["message"] = std::string(pMessage);
  return WriteJson(reply);
}

void TDmSitef::SendClientMessage(service::Connection& pIdContext, std::string_view pMsg) {
  pIdContext.SendClientMessage(pMsg);
}

void TDmSitef::SendErrorMessage(service::Connection& pIdContext, std::string_view pMessage) {
  SendClientMessage(pIdContext, BuildErrorMessage(pMessage));
}

void TDmSitef::SendJson(service::Connection& pIdContext, const Json& pMessage) {
  SendClientMessage(pIdContext, WriteJson(pMessage));
}

const TDmSitef::TRoute* TDmSitef::FindRoute(std::string_view pRoute) {
  // "/session/start" is not here: it needs no session and answers every escaping error alike.
  static const TRoute routes[] = {
      {"/session/finish", true, &TDmSitef::FinishSession},
      {"/initialize", true, &TDmSitef::InitializeSiTef},
      {"/pinpad/status", true, &TDmSitef::CheckPinpad},
      {"/version", false, &TDmSitef::CheckFileVersion},
      {"/transaction", true, &TDmSitef::StartTransaction},
      {"/transaction/cancel", true, &TDmSitef::CancelTransactionRoute},
      {"/transaction/status", true, &TDmSitef::TransactionStatus},
  };
  for (const TRoute& route : routes) {
    if (route.Route == pRoute) return &route;
  }
  return nullptr;
}

void TDmSitef::RouteTargeting(std::string_view pContent, service::Connection& pIdContext) {
  const std::optional<Json> request = ParseJson(pContent);
  // Text that is not JSON is dropped, and so is JSON that is not an object (an array, a string, a
  // number): no request can be read from it, and the connection goes on to its next frame.
  if (!request || !request->is_object()) return;
  try {
    const std::string route = GetRequiredField(*request, "route");
    if (route == "/session/start") {
      try {
        CreateSession(*request, pIdContext);
      } catch (...) {
        SendErrorMessage(pIdContext, "Dados de sessão inválidos.");
      }
      return;
    }
    const TRoute* target = FindRoute(route);
    std::optional<TSession> session;
    if (target == nullptr || target->CheckSession) {
      session = ValidateSession(*request, pIdContext);
      if (!session) return;
    }
    if (target != nullptr) {
      (this->*target->Handler)(*request, session ? &*session : nullptr, pIdContext);
    }
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, e.what());
  }
}

void TDmSitef::OnExecuteEnd(service::Connection& pIdContext) {
  const uint64_t owner = fIdContextEmOperacao.load();
  if (owner == 0 || owner == pIdContext.Id()) FProcessandoMsg = false;
}

void TDmSitef::OnServiceStart() {
  fStopping = false;
  fJournal.SetLog([this](std::string_view text) { Log(text); });
  {
    // Before the first request: operations an earlier process left running are settled in the
    // journal (interrupted, or approved while their backup waits for the next initialisation).
    std::lock_guard tef(fTefLock);
    fJournal.Load([this](const std::string& operacao) { return OperationBackedUp(operacao); });
  }
  fSaleReports.Start();
  const TJwtSecret secret = JwtSecret();
  switch (secret.Source) {
    case TJwtSecretSource::Configured:
      if (secret.Key == tokens::kDefaultJwtSecret) Log(kJwtSecretBuiltinConfiguredLog);
      break;
    case TJwtSecretSource::Absent:
      Log(kJwtSecretDefaultStartLog);
      Log(kJwtSecretDefaultSignatureLog);
      break;
    case TJwtSecretSource::Invalid:
      Log(kJwtSecretInvalidStartLog);
      break;
  }
}

void TDmSitef::OnServiceStop() {
  fStopping = true;
  fSaleReports.Stop();
}

void TDmSitef::OnServiceResume() {
  fInicializarDeNovo = true;
}

void TDmSitef::OnDisconnect(service::Connection& pIdContext) {
  std::vector<std::string> backups;
  {
    std::lock_guard state(fStateLock);
    const auto found = fBackupsPorConexao.find(pIdContext.Id());
    if (found == fBackupsPorConexao.end()) return;
    backups = std::move(found->second);
    fBackupsPorConexao.erase(found);
  }
  // The ended connection's own operation, if it had one, has finished on this very thread before
  // we got here; a lock held now belongs to another connection's operation, which is not waited
  // for.
  std::unique_lock lock(fTefLock, std::try_to_lock);
  if (!lock.owns_lock()) {
    Log("Transações pendentes da conexão encerrada não desfeitas: o SiTef está em uso por outra "
        "conexão.");
    return;
  }
  TKoCliSiTefAccess tef(*this, std::move(lock), nullptr, nullptr);
  tef->CancelarTransacoesPendentes(backups);
}

TKoCliSiTefAccess TDmSitef::AcquireKoCliSiTef(service::Connection& pIdContext,
                                              const TSession* pSession) {
  return TKoCliSiTefAccess(*this, std::unique_lock(fTefLock), &pIdContext, pSession);
}

std::vector<std::string> TDmSitef::NewBackups(const std::vector<std::string>& pAntes) {
  std::vector<std::string> novos = KoCliSiTef.TEFCliSiTef().ArquivosBackup();
  std::erase_if(novos, [&pAntes](const std::string& arquivo) {
    return std::find(pAntes.begin(), pAntes.end(), arquivo) != pAntes.end();
  });
  return novos;
}

void TDmSitef::ApplyGatewaySettings() {
  const TGatewaySettings settings = GatewaySettings();
  tef::TKoCliSiTefCliSiTef& gateway = KoCliSiTef.TEFCliSiTef();
  gateway.SetModoServico(settings.ModoServico);
  gateway.SetPathDLL(settings.PathDLL);
  gateway.SetNomeDLL(settings.NomeDLL);
  gateway.SetEnderecoIP(settings.EnderecoIP);
  gateway.SetCodigoLoja(settings.CodigoLoja);
  gateway.SetNumeroTerminal(settings.NumeroTerminal);
  gateway.SetParametrosAdicionais(settings.ParametrosAdicionais);
  gateway.SetOperador(settings.Operador);
  gateway.SetRestricoes(settings.Restricoes);
}

// The settings the library is configured with: a change of any of them must reach the library.
static bool SameConfiguration(const TGatewaySettings& a, const TGatewaySettings& b) {
  return a.EnderecoIP == b.EnderecoIP && a.CodigoLoja == b.CodigoLoja &&
         a.NumeroTerminal == b.NumeroTerminal && a.ParametrosAdicionais == b.ParametrosAdicionais;
}

void TDmSitef::EnsureInicializado(tef::TKoCliSiTef& pKoCliSiTef) {
  // Under fTefLock, so no operation is using the library while it is released.
  if (fInicializarDeNovo.exchange(false) && pKoCliSiTef.Inicializado(tef::gpCliSiTef)) {
    pKoCliSiTef.DesInicializar(tef::gpCliSiTef);
  }
  // A session of another terminal, store or SiTef address: a payment must never be charged under
  // another terminal than the session was told, so the library is configured again.
  const TGatewaySettings agora = GatewaySettings();
  if (pKoCliSiTef.Inicializado(tef::gpCliSiTef) && fConfiguradoCom &&
      !SameConfiguration(*fConfiguradoCom, agora)) {
    pKoCliSiTef.TEFCliSiTef().GravaLog(
        "Configuração do SiTef alterada pela sessão (terminal " + fConfiguradoCom->NumeroTerminal +
        " -> " + agora.NumeroTerminal + ", loja " + fConfiguradoCom->CodigoLoja + " -> " +
        agora.CodigoLoja + ", servidor " + fConfiguradoCom->EnderecoIP + " -> " + agora.EnderecoIP +
        "): a biblioteca será configurada de novo.");
    pKoCliSiTef.DesInicializar(tef::gpCliSiTef);
  }
  if (pKoCliSiTef.Inicializado(tef::gpCliSiTef)) return;
  // What the initialisation confirms of an earlier process is told to the page as such, up to
  // the prompt that follows it; nothing of it outlives this call.
  struct TLimpa {
    std::vector<TRecuperada>& Lista;
    ~TLimpa() { Lista.clear(); }
  } limpa{fRecuperadas};
  try {
    pKoCliSiTef.Inicializar(tef::gpCliSiTef);
    fConfiguradoCom = agora;
  } catch (const std::exception&) {
    const tef::TKoCliSiTefCliSiTef& gateway = pKoCliSiTef.TEFCliSiTef();
    if (!gateway.ErroCarregamento().empty()) {
      metrics::NoteLibraryLoadFailure(gateway.ErroCarregamento());
      const std::string erro = "Erro ao carregar a biblioteca do SiTef " +
                               tef::NomeCompletoDLL(gateway.PathDLL(), gateway.NomeDLL()) + ": " +
                               gateway.ErroCarregamento();
      Log(erro);
      FService.Events().Report(service::TSystemEventId::LibraryNotLoaded, erro);
    }
    throw;
  }
  ReportLibraryLoaded(FService.Events(), pKoCliSiTef.TEFCliSiTef());
  metrics::NoteLibraryLoaded(tef::NomeCompletoDLL(pKoCliSiTef.TEFCliSiTef().PathDLL(),
                                                  pKoCliSiTef.TEFCliSiTef().NomeDLL()));
  if (pKoCliSiTef.TEFCliSiTef().BibliotecaSimulada()) {
    Log(tef::TKoCliSiTefCliSiTef::kAvisoSimulador);
  }
}

bool TDmSitef::OperationBackedUp(const std::string& pOperationId) {
  if (pOperationId.empty()) return false;
  for (const std::string& arquivo : KoCliSiTef.TEFCliSiTef().ArquivosBackup()) {
    tef::TKoCliSiTefRespCliSiTef resp;
    try {
      resp.LeArquivo(arquivo);
    } catch (const std::exception&) {
      continue;
    }
    if (resp.OperacaoAplicacao() == pOperationId && !tef::TKoCliSiTefClass::BackupEncerrado(resp)) {
      return true;
    }
  }
  return false;
}

void TDmSitef::EndRunningOperation(std::string_view pEvent, const std::string& pReason) {
  const std::string operacao = fOperacaoEmCurso.Id;
  if (operacao.empty()) return;
  if (OperationBackedUp(operacao)) {
    // Approved, and its reversal did not go through: the backup waits, and the payment with it.
    fJournal.Record(operacao, TJournalEvent("approved",
                                            "Desfazimento não concluído: a transação aprovada "
                                            "aguarda no backup e será confirmada na próxima "
                                            "inicialização."));
    return;
  }
  fJournal.Record(operacao, TJournalEvent(std::string(pEvent), pReason));
}

TGatewaySettings TDmSitef::GatewaySettings() const {
  std::lock_guard lock(fStateLock);
  return fGatewaySettings;
}

TJwtSecret TDmSitef::JwtSecret() const {
  return ReadJwtSecret(FService.Config());
}

}  // namespace kelvora::protocol
