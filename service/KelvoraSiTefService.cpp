// The service events, in the order the service log records them.
#include "service/KelvoraSiTefService.h"

#include "platform/ServiceInstaller.h"

#include <exception>

namespace kelvora::service {

TKelvoraSiTefService::TKelvoraSiTefService(TServiceOptions options,
                                           const DataModuleFactory& createDataModule,
                                           const platform::Clock& clock)
    : FOptions(std::move(options)),
      FLog(FOptions.BaseDir, std::string(kServiceName), clock),
      iniConfig(std::make_unique<platform::TIniFile>(FOptions.ConfigFile)) {
  DmSitef = createDataModule(*this);
}

TKelvoraSiTefService::~TKelvoraSiTefService() {
  StopServer();
  DmSitef.reset();
  iniConfig.reset();
}

void TKelvoraSiTefService::ServiceStart() {
  StartServer();
  GravaLog("O serviço foi inciado.");
}

void TKelvoraSiTefService::ServiceStop() {
  StopServer();
  GravaLog("O serviço foi parado.");
}

void TKelvoraSiTefService::ServicePause() {
  StopServer();
  GravaLog("O serviço foi pausado.");
}

void TKelvoraSiTefService::ServiceContinue() {
  StartServer();
  GravaLog("O serviço foi retomado.");
}

void TKelvoraSiTefService::ServiceAfterInstall() {
  platform::SetServiceDescription(kServiceName, kDescription);
}

void TKelvoraSiTefService::StartServer() {
  GravaLog("Iniciando servidor socket.");
  try {
    auto server =
        std::make_unique<TServerThread>(TServerSettings{FOptions.Port, FOptions.BaseDir}, *DmSitef);
    server->Start();
    FServerThread = std::move(server);
  } catch (const std::exception& e) {
    GravaLog(e.what());
  }
}

void TKelvoraSiTefService::StopServer() {
  if (!FServerThread) return;
  FServerThread->Deactivate();
  FServerThread.reset();
}

}  // namespace kelvora::service
