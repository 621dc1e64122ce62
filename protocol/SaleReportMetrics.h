// The metrics' view of one post of a report to the sales API.
#pragma once

#include "metrics/Telemetry.h"
#include "protocol/SaleReportOutbox.h"

namespace kelvora::protocol {

// Counts the attempt by its result and hands the result back; a report the API did not take is
// also the health check's last error.
inline TReportDelivery CountedAttempt(TReportDelivery pAnswer) {
  switch (pAnswer) {
    case TReportDelivery::Accepted:
      metrics::CountSalesReportAttempt(metrics::TReportResult::Accepted);
      return pAnswer;
    case TReportDelivery::Refused:
      metrics::CountSalesReportAttempt(metrics::TReportResult::Refused);
      metrics::NoteError("Registro de transação recusado pela API de vendas.");
      return pAnswer;
    case TReportDelivery::Unanswered:
      metrics::CountSalesReportAttempt(metrics::TReportResult::Unanswered);
      metrics::NoteError("Registro de transação sem resposta da API de vendas.");
      return pAnswer;
  }
  return pAnswer;
}

}  // namespace kelvora::protocol
