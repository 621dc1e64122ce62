// Inside the metrics library: what the events have set, and the metric families of one scrape.
#pragma once

#include <prometheus/metric_family.h>

#include <optional>
#include <string>
#include <vector>

#include "metrics/Telemetry.h"

namespace kelvora::metrics {

// Seconds since 1970, as Prometheus writes times.
double SecondsSinceEpoch(std::chrono::system_clock::time_point time);

enum class TLibraryState { NotLoaded, Loaded, LoadFailed };

// A copy of what the events have set so far.
struct TEventState {
  double StartTime = 0;
  std::optional<bool> PinpadPresent;
  double PinpadCheckedAt = 0;
  TLibraryState Library = TLibraryState::NotLoaded;
  std::string LibraryFile;   // the file last loaded; empty before
  std::string LibraryError;  // the loader's reason, when the last load failed
  std::optional<double> CertificateNotAfter;
  std::string LastError;
  double LastErrorAt = 0;
};
TEventState EventState();

// Every metric family of the service: the counters and histograms the events have fed, and the
// gauges read now through probe.
std::vector<prometheus::MetricFamily> CollectMetrics(const TServiceProbe& probe);

}  // namespace kelvora::metrics
