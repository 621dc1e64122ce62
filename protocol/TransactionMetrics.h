// The kind of a "/transaction" request as the metrics name it.
#pragma once

#include "metrics/Telemetry.h"
#include "protocol/DmSitef.h"

namespace kelvora::protocol {

inline metrics::TOperation OperationOf(TTipoTransacao pTipo) {
  switch (pTipo) {
    case ttCancelamento:
      return metrics::TOperation::Cancellation;
    case ttReimpressao:
      return metrics::TOperation::Reprint;
    default:
      return metrics::TOperation::Payment;
  }
}

}  // namespace kelvora::protocol
