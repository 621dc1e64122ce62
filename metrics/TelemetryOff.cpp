// The events and the endpoint of a build without prometheus-cpp (the Windows cross-build): every
// event is dropped, and a configured endpoint is reported as not built in.
#include "metrics/Telemetry.h"

namespace kelvora::metrics {

void CountTransaction(TOperation, TOutcome) {}
void ObserveDialogue(Duration) {}
void ObserveLibraryCall(std::string_view, Duration) {}
void CountSalesReportAttempt(TReportResult) {}
void CountRejectedConnection(TConnectionRejection) {}
void CountSessionRefused(TSessionRefusal) {}
void NotePinpadPresence(bool) {}
void NoteLibraryLoaded(const std::string&) {}
void NoteLibraryLoadFailure(std::string_view) {}
void NoteCertificate(const std::filesystem::path&) {}
void NoteError(std::string_view) {}

std::unique_ptr<TMetricsEndpoint> StartMetricsEndpoint(const TEndpointSettings&, TServiceProbe,
                                                       TLogLine log) {
  log("[metrics] ignorado: esta compilação do serviço não inclui as métricas.");
  return nullptr;
}

}  // namespace kelvora::metrics
