// The service's events in the operating system's log (the journal, the Windows event log): each
// with a stable id and name that operators' monitoring can select on, besides the lines of the
// service's own log files.
#pragma once

#include "platform/SystemLog.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>

namespace kelvora::service {

// The ids are a contract with the operators (docs/operations.md) and with the message table of the
// Windows executable (platform/win32/SystemEvents.mc): never renumber one, only add.
enum class TSystemEventId : uint32_t {
  ServiceStarted = 100,
  ServiceStopped = 101,
  ServicePaused = 102,
  ServiceContinued = 103,
  ServiceStartFailed = 104,
  ServiceResumed = 105,
  LibraryLoaded = 200,
  LibraryNotLoaded = 201,
  PaymentApproved = 300,
  PaymentRefused = 301,
  PaymentCanceledByClient = 302,
  PaymentUndone = 303,
  EarlierPaymentCanceled = 304,
  PaymentFailed = 305,
  SaleReportFailed = 400,
  BackupRecovered = 500,
  OldLogsRemoved = 600,
};

struct TSystemEventType {
  TSystemEventId Id;
  std::string_view Name;
  platform::SystemLogSeverity Severity;
};

// Every event the service reports, in id order.
std::span<const TSystemEventType> SystemEventTypes();

class TSystemEvents {
 public:
  // Reports to log; nullptr reports nowhere (no system log for this process).
  explicit TSystemEvents(std::unique_ptr<platform::SystemLog> log) : log_(std::move(log)) {}

  // Reports one event. The text and the values come from the library, the sales API and clients,
  // so their control characters are escaped as in the service log. Callers never pass card data
  // nor the customer's: only the NSU, amounts, the sale's id and the like. Any thread; never
  // throws.
  void Report(TSystemEventId id, std::string_view message,
              std::initializer_list<platform::SystemLogField> fields = {}) const noexcept;

 private:
  std::unique_ptr<platform::SystemLog> log_;
};

}  // namespace kelvora::service
