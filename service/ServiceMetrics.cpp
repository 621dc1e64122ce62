// The service module's side of the metrics: the endpoint's start and what it reads at a scrape.
#include "service/KelvoraSiTefService.h"

#include "service/MetricsSettings.h"

namespace kelvora::service {

void TKelvoraSiTefService::StartMetrics() {
  if (FMetrics) return;
  std::string refusal;
  const std::optional<metrics::TEndpointSettings> settings =
      ReadMetricsSettings(*iniConfig, refusal);
  if (!settings) {
    if (!refusal.empty()) GravaLog(refusal);
    return;
  }
  try {
    FMetrics = metrics::StartMetricsEndpoint(*settings, MetricsProbe(),
                                             [this](std::string_view text) { GravaLog(text); });
  } catch (const std::exception& e) {
    GravaLog(std::string("As métricas não puderam ser iniciadas: ") + e.what());
    return;
  }
  if (FMetrics) {
    const std::string host = settings->AddressText.substr(0, settings->AddressText.rfind(':'));
    GravaLog("Métricas em http://" + host + ":" + std::to_string(FMetrics->Port()) +
             "/metrics e /health" + (settings->Token.empty() ? "." : " (com token)."));
  }
}

metrics::TServiceProbe TKelvoraSiTefService::MetricsProbe() {
  metrics::TServiceProbe probe;
  probe.ListenerUp = [this] { return ServerRunning(); };
  probe.ListenerPort = [this]() -> uint16_t {
    const std::lock_guard lock(FServerLock);
    return FServerThread ? FServerThread->Port() : 0;
  };
  probe.Connections = [this]() -> size_t {
    const std::lock_guard lock(FServerLock);
    return FServerThread ? FServerThread->OpenConnections() : 0;
  };
  probe.Sessions = [this] { return DmSitef->SessionCount(); };
  probe.DialogueRunning = [this] { return DmSitef->OperationRunning(); };
  probe.LibraryFile = FOptions.BaseDir / "dll" / "CliSiTef32I.dll";
  probe.BackupDirectory = FOptions.BaseDir / "TEF";
  probe.OutboxDirectory = FOptions.BaseDir / "TEF" / "RegistrosAPI";
  return probe;
}

}  // namespace kelvora::service
