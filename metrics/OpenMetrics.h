// The OpenMetrics text format, for scrapers that ask for it (Prometheus does by default);
// prometheus-cpp writes only the older Prometheus text format.
#pragma once

#include <prometheus/metric_family.h>

#include <string>
#include <string_view>
#include <vector>

namespace kelvora::metrics {

inline constexpr std::string_view kOpenMetricsContentType =
    "application/openmetrics-text; version=1.0.0; charset=utf-8";
inline constexpr std::string_view kPrometheusTextContentType =
    "text/plain; version=0.0.4; charset=utf-8";

// Counters, gauges, histograms and untyped values as OpenMetrics 1.0 text, ending in "# EOF". A
// counter family named with "_total" is declared without it, as the format wants.
std::string SerializeOpenMetrics(const std::vector<prometheus::MetricFamily>& families);

// The Prometheus text format 0.0.4, through prometheus-cpp.
std::string SerializePrometheusText(const std::vector<prometheus::MetricFamily>& families);

// Whether an Accept header asks for OpenMetrics.
bool WantsOpenMetrics(std::string_view accept);

}  // namespace kelvora::metrics
