// The service module: the root of the process. It answers the service events, owns the
// configuration file and the data module, starts and stops the TLS listener, and writes the
// service log.
#pragma once

#include "metrics/Telemetry.h"
#include "platform/IniFile.h"
#include "platform/ServiceHost.h"
#include "service/LogRetention.h"
#include "service/MessageHandler.h"
#include "service/ServerThread.h"
#include "service/ServiceLog.h"
#include "service/SystemEvents.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

namespace kelvora::service {

struct TServiceOptions {
  std::filesystem::path BaseDir;     // the executable's directory, or --base-dir
  uint16_t Port = 443;               // --port
  std::filesystem::path ConfigFile;  // BaseDir/SvcKelvoraSiTef.ini for the service executable
};

class TKelvoraSiTefService final : public platform::ServiceEvents {
 public:
  static constexpr std::string_view kServiceName = "KelvoraSiTefService";
  static constexpr std::string_view kDisplayName = "KelvoraSiTefService";
  static constexpr std::string_view kTitle = "Kelvora TEF Server";
  static constexpr std::string_view kDescription =
      "Serviço guardião do Kelvora DataSnap Servidor- Mantenha este serviço iniciado.";

  // Creates the data module DmSitef. It is given the service module, which is complete by then,
  // for its log, configuration and base directory.
  using DataModuleFactory = std::function<std::unique_ptr<MessageHandler>(TKelvoraSiTefService&)>;

  // ServiceCreate: iniConfig for options.ConfigFile, then DmSitef from the factory, and no server.
  TKelvoraSiTefService(TServiceOptions options, const DataModuleFactory& createDataModule,
                       const platform::Clock& clock = platform::DefaultClock());
  // ServiceDestroy: StopServer, then DmSitef is released, then iniConfig.
  ~TKelvoraSiTefService() override;
  TKelvoraSiTefService(const TKelvoraSiTefService&) = delete;
  TKelvoraSiTefService& operator=(const TKelvoraSiTefService&) = delete;

  // Each event is also reported to the system's log, with the same text.
  // StartMetrics, StartServer, then "O serviço foi inciado."
  void ServiceStart() override;
  void ServiceStop() override;      // StopServer, then "O serviço foi parado."
  void ServicePause() override;     // StopServer, then "O serviço foi pausado."
  void ServiceContinue() override;  // StartServer, then "O serviço foi retomado."
  // After sleep, as after a restart: the settings read again (the listener, when one runs, and
  // the metrics endpoint start anew) and the library and pin-pad set up afresh at the next
  // operation; then kResumeLog. A listener that cannot start stops the service, as at its start.
  void ServiceResume() override;
  static constexpr std::string_view kResumeLog =
      "O computador voltou da suspensão: o serviço relê as configurações, e a biblioteca SiTef e "
      "o pin-pad serão iniciados de novo na próxima operação.";
  // Writes the description into the installed unit; nothing happens when it is not installed.
  void ServiceAfterInstall() override;

  // The service's own exit code when it cannot listen for pages.
  static constexpr int kListenFailureExitCode = 3;
  static constexpr std::string_view kListenFailureLog =
      "O servidor socket não pôde ser iniciado: o serviço será encerrado com falha (código 3).";

  // Logs "Iniciando servidor socket." and starts a new listener with the settings the
  // configuration file holds now; when it accepts every origin, says so in the log. A failure
  // (port in use, an address that cannot be parsed or bound, certificate or key missing) is logged
  // with its message and kListenFailureLog, and raised as a platform::ServiceFailure: a service
  // that serves no page must not look running, so it stops with kListenFailureExitCode, which the
  // service control manager or systemd shows and answers with its recovery actions.
  void LogCodePage();
  void StartServer();
  // Deactivates the running listener, if any (its connections end and run their disconnect
  // steps), and forgets it.
  void StopServer();

  // The service log line writer (see TServiceLog::GravaLog); any thread, never throws.
  bool GravaLog(std::string_view pStr) const noexcept { return FLog.GravaLog(pStr); }
  const TServiceLog& Log() const { return FLog; }
  // The events in the system's log (the journal under systemd, the Windows event log).
  const TSystemEvents& Events() const { return FEvents; }

  // The configuration file; every read goes to the file.
  const platform::TIniFile& Config() const { return *iniConfig; }
  // [sitef] pdv_number, 0 when missing or not an integer: the end of the SiTef terminal number.
  int32_t PdvNumber() const { return iniConfig->ReadInteger("sitef", "pdv_number", 0); }
  // [Sitef] qrcode_on_pinpad, false when missing or not an integer: when false, QR codes come back
  // to the service as text instead of being shown on the pin-pad.
  bool QrCodeOnPinpad() const { return iniConfig->ReadBool("Sitef", "qrcode_on_pinpad", false); }
  MessageHandler& DataModule() { return *DmSitef; }
  const TServiceOptions& Options() const { return FOptions; }

 private:
  // Starts the /metrics and /health endpoint when [metrics] listen asks for it
  // (ServiceMetrics.cpp). A setting that cannot be used, or an address that cannot be bound, is
  // logged and leaves the service without the endpoint: payments do not depend on it.
  void StartMetrics();
  // Whether a listener runs now (any thread).
  bool ServerRunning() const;
  // What the endpoint reads at each scrape, from its own thread.
  metrics::TServiceProbe MetricsProbe();

  TServiceOptions FOptions;
  TServiceLog FLog;
  TSystemEvents FEvents;
  std::unique_ptr<platform::TIniFile> iniConfig;
  std::unique_ptr<MessageHandler> DmSitef;
  // Set and cleared on the main thread; FServerLock guards the pointer for the metrics thread,
  // which reads the listener's state through it.
  mutable std::mutex FServerLock;
  std::unique_ptr<TServerThread> FServerThread;
  // Uses the log, the configuration and the events: declared after them, and stopped first.
  TLogRetention FLogRetention;
  std::unique_ptr<metrics::TMetricsEndpoint> FMetrics;
};

}  // namespace kelvora::service
