// The health check: the state of each part of the service as JSON, and whether the till can take
// payments now (200) or cannot (503), for load balancers and service monitors.
#pragma once

#include <chrono>
#include <string>

#include "metrics/TelemetryState.h"

namespace kelvora::metrics {

struct THealth {
  int Status = 200;  // 503 when the listener is down or the library could not be loaded
  std::string Body;  // JSON
};

THealth BuildHealth(const TServiceProbe& probe, const TEventState& state,
                    std::chrono::system_clock::time_point now);

}  // namespace kelvora::metrics
