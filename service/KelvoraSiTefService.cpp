// The service events, in the order the service log records them.
#include "service/KelvoraSiTefService.h"

#include "platform/Ansi.h"
#include "platform/FileVersion.h"
#include "platform/ServiceHost.h"
#include "platform/ServiceInstaller.h"

#include <exception>

namespace kelvora::service {
namespace {

// The product's simulator carries a file version ending in "-sim"; the vendor's library carries
// none of ours. Read from the file, so nothing is loaded at start.
bool LibraryIsSimulator(const std::filesystem::path& baseDir) {
  const auto version = platform::ReadFileVersion((baseDir / "dll" / "CliSiTef32I.dll").string());
  return version && version->ends_with("-sim");
}

}  // namespace

TKelvoraSiTefService::TKelvoraSiTefService(TServiceOptions options,
                                           const DataModuleFactory& createDataModule,
                                           const platform::Clock& clock)
    : FOptions(std::move(options)),
      FLog(FOptions.BaseDir, std::string(kServiceName), clock),
      FEvents(platform::OpenSystemLog(kTitle)),
      iniConfig(std::make_unique<platform::TIniFile>(FOptions.ConfigFile)),
      FLogRetention(FLog, *iniConfig, FEvents, clock) {
  DmSitef = createDataModule(*this);
}

TKelvoraSiTefService::~TKelvoraSiTefService() {
  FLogRetention.Stop();
  FMetrics.reset();
  StopServer();
  DmSitef.reset();
  iniConfig.reset();
}

void TKelvoraSiTefService::ServiceStart() {
  StartMetrics();
  StartServer();
  GravaLog("O serviço foi inciado.");
  FEvents.Report(TSystemEventId::ServiceStarted, "O serviço foi inciado.");
  FLogRetention.Start();
  // A till must never take simulated payments for real ones.
  if (LibraryIsSimulator(FOptions.BaseDir)) {
    GravaLog("A biblioteca SiTef em dll/ é o SIMULADOR: nenhum pagamento é real.");
  }
  LogCodePage();
  DmSitef->OnServiceStart();
}

// The vendor's library writes its prompts and receipts in the system's ANSI code page, which the
// service reads as Windows-1252: on a till set to another one, accented letters come out wrong.
void TKelvoraSiTefService::LogCodePage() {
  const std::optional<unsigned> codePage = platform::SystemAnsiCodePage();
  if (!codePage) return;
  GravaLog("Página de código do Windows: " + std::to_string(*codePage) + ".");
  if (*codePage != 1252) {
    GravaLog("Aviso: a página de código do Windows não é 1252: os textos da biblioteca SiTef "
             "podem aparecer com letras acentuadas trocadas.");
  }
}

void TKelvoraSiTefService::ServiceStop() {
  DmSitef->OnServiceStop();
  StopServer();
  GravaLog("O serviço foi parado.");
  FEvents.Report(TSystemEventId::ServiceStopped, "O serviço foi parado.");
}

void TKelvoraSiTefService::ServicePause() {
  StopServer();
  GravaLog("O serviço foi pausado.");
  FEvents.Report(TSystemEventId::ServicePaused, "O serviço foi pausado.");
}

void TKelvoraSiTefService::ServiceContinue() {
  StartServer();
  GravaLog("O serviço foi retomado.");
  FEvents.Report(TSystemEventId::ServiceContinued, "O serviço foi retomado.");
}

void TKelvoraSiTefService::ServiceResume() {
  DmSitef->OnServiceResume();
  FMetrics.reset();
  StartMetrics();
  // A paused service reads its settings when it continues.
  if (ServerRunning()) {
    StopServer();
    StartServer();
  }
  GravaLog(kResumeLog);
  FEvents.Report(TSystemEventId::ServiceResumed, kResumeLog);
}

void TKelvoraSiTefService::ServiceAfterInstall() {
  platform::SetServiceDescription(kServiceName, kDescription);
}

void TKelvoraSiTefService::StartServer() {
  GravaLog("Iniciando servidor socket.");
  try {
    TServerSettings settings =
        ReadServerSettings(*iniConfig, FOptions.Port, FOptions.BaseDir,
                           [this](std::string_view text) { GravaLog(text); });
    const bool everyOrigin = !settings.Origins.Restricted();
    auto server = std::make_unique<TServerThread>(std::move(settings), *DmSitef);
    server->Start();
    metrics::NoteCertificate(TCertificateFiles::In(FOptions.BaseDir).Certificate);
    const std::lock_guard lock(FServerLock);
    FServerThread = std::move(server);
    if (everyOrigin) {
      GravaLog(
          "Aviso: [security] allowed_origins não configurado; conexões de qualquer origem são "
          "aceitas.");
    }
  } catch (const std::exception& e) {
    GravaLog(e.what());
    GravaLog(kListenFailureLog);
    FEvents.Report(TSystemEventId::ServiceStartFailed,
                   std::string(kListenFailureLog) + " " + e.what());
    metrics::NoteError(e.what());
    throw platform::ServiceFailure(kListenFailureExitCode, e.what());
  }
}

bool TKelvoraSiTefService::ServerRunning() const {
  const std::lock_guard lock(FServerLock);
  return FServerThread != nullptr;
}

void TKelvoraSiTefService::StopServer() {
  std::unique_ptr<TServerThread> server;
  {
    const std::lock_guard lock(FServerLock);
    server = std::move(FServerThread);
  }
  if (server) server->Deactivate();
}

}  // namespace kelvora::service
