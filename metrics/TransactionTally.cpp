// The tally of one dialogue, the same with or without the metrics library.
#include "metrics/Telemetry.h"

namespace kelvora::metrics {

TTransactionTally::~TTransactionTally() {
  ObserveDialogue(std::chrono::steady_clock::now() - start_);
  CountTransaction(operation_, Outcome);
}

TOutcome OutcomeOf(bool approved, bool cancelled) {
  if (approved) return TOutcome::Approved;
  return cancelled ? TOutcome::Cancelled : TOutcome::Refused;
}

}  // namespace kelvora::metrics
