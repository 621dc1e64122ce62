// The catalogue of the service's events and their way into the system log.
#include "service/SystemEvents.h"

#include "platform/LogText.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kelvora::service {
namespace {

using enum platform::SystemLogSeverity;

constexpr std::array kEventTypes{
    TSystemEventType{TSystemEventId::ServiceStarted, "service-started", Information},
    TSystemEventType{TSystemEventId::ServiceStopped, "service-stopped", Information},
    TSystemEventType{TSystemEventId::ServicePaused, "service-paused", Information},
    TSystemEventType{TSystemEventId::ServiceContinued, "service-continued", Information},
    TSystemEventType{TSystemEventId::ServiceStartFailed, "service-start-failed", Error},
    TSystemEventType{TSystemEventId::ServiceResumed, "service-resumed", Information},
    TSystemEventType{TSystemEventId::LibraryLoaded, "library-loaded", Information},
    TSystemEventType{TSystemEventId::LibraryNotLoaded, "library-not-loaded", Error},
    TSystemEventType{TSystemEventId::PaymentApproved, "payment-approved", Information},
    TSystemEventType{TSystemEventId::PaymentRefused, "payment-refused", Warning},
    TSystemEventType{TSystemEventId::PaymentCanceledByClient, "payment-canceled-by-client",
                     Information},
    TSystemEventType{TSystemEventId::PaymentUndone, "payment-undone", Warning},
    TSystemEventType{TSystemEventId::EarlierPaymentCanceled, "earlier-payment-canceled",
                     Information},
    TSystemEventType{TSystemEventId::PaymentFailed, "payment-failed", Error},
    TSystemEventType{TSystemEventId::SaleReportFailed, "sale-report-failed", Error},
    TSystemEventType{TSystemEventId::BackupRecovered, "backup-recovered", Warning},
    TSystemEventType{TSystemEventId::OldLogsRemoved, "old-logs-removed", Information},
};

}  // namespace

std::span<const TSystemEventType> SystemEventTypes() {
  return kEventTypes;
}

void TSystemEvents::Report(TSystemEventId id, std::string_view message,
                           std::initializer_list<platform::SystemLogField> fields) const noexcept {
  if (!log_) return;
  try {
    const auto type = std::find_if(kEventTypes.begin(), kEventTypes.end(),
                                   [id](const TSystemEventType& t) { return t.Id == id; });
    if (type == kEventTypes.end()) return;
    std::vector<platform::SystemLogField> safeFields;
    for (const auto& [name, value] : fields)
      safeFields.push_back({name, platform::EscapeLogText(value)});
    const std::string safeMessage = platform::EscapeLogText(message);
    log_->Write({static_cast<uint32_t>(id), type->Name, type->Severity, safeMessage, safeFields});
  } catch (...) {
    // Out of memory: the event is lost, like a service log line that cannot be written.
  }
}

}  // namespace kelvora::service
