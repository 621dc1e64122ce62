// OpenMetrics 1.0 text for the metric types the service uses.
#include "metrics/OpenMetrics.h"

#include <prometheus/text_serializer.h>

#include <charconv>
#include <cmath>
#include <sstream>

namespace kelvora::metrics {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

std::string Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : "NaN";
}

// Label values and help texts escape the backslash, the double quote and the line feed.
std::string Escaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string Labels(const std::vector<ClientMetric::Label>& labels,
                   const ClientMetric::Label* extra = nullptr) {
  if (labels.empty() && extra == nullptr) return "";
  std::string text = "{";
  auto add = [&](const ClientMetric::Label& label) {
    if (text.size() > 1) text += ',';
    text += label.name + "=\"" + Escaped(label.value) + '"';
  };
  for (const ClientMetric::Label& label : labels) add(label);
  if (extra != nullptr) add(*extra);
  return text + '}';
}

void Sample(std::string& out, std::string_view name, const std::string& labels, double value) {
  out.append(name).append(labels).append(" ").append(Number(value)).append("\n");
}

const char* TypeName(MetricType type) {
  switch (type) {
    case MetricType::Counter:
      return "counter";
    case MetricType::Gauge:
      return "gauge";
    case MetricType::Histogram:
      return "histogram";
    case MetricType::Summary:
      return "summary";
    default:
      return "unknown";
  }
}

void Family(std::string& out, const MetricFamily& family) {
  std::string name = family.name;
  if (family.type == MetricType::Counter && name.ends_with("_total")) {
    name.resize(name.size() - std::string_view("_total").size());
  }
  out += "# TYPE " + name + " " + TypeName(family.type) + "\n";
  out += "# HELP " + name + " " + Escaped(family.help) + "\n";
  for (const ClientMetric& metric : family.metric) {
    const std::string labels = Labels(metric.label);
    switch (family.type) {
      case MetricType::Counter:
        Sample(out, name + "_total", labels, metric.counter.value);
        break;
      case MetricType::Gauge:
        Sample(out, name, labels, metric.gauge.value);
        break;
      case MetricType::Histogram:
        for (const ClientMetric::Bucket& bucket : metric.histogram.bucket) {
          const ClientMetric::Label le{"le", Number(bucket.upper_bound)};
          Sample(out, name + "_bucket", Labels(metric.label, &le),
                 static_cast<double>(bucket.cumulative_count));
        }
        Sample(out, name + "_count", labels, static_cast<double>(metric.histogram.sample_count));
        Sample(out, name + "_sum", labels, metric.histogram.sample_sum);
        break;
      case MetricType::Summary:
        for (const ClientMetric::Quantile& quantile : metric.summary.quantile) {
          const ClientMetric::Label q{"quantile", Number(quantile.quantile)};
          Sample(out, name, Labels(metric.label, &q), quantile.value);
        }
        Sample(out, name + "_count", labels, static_cast<double>(metric.summary.sample_count));
        Sample(out, name + "_sum", labels, metric.summary.sample_sum);
        break;
      default:
        Sample(out, name, labels, metric.untyped.value);
        break;
    }
  }
}

}  // namespace

std::string SerializeOpenMetrics(const std::vector<MetricFamily>& families) {
  std::string out;
  for (const MetricFamily& family : families) Family(out, family);
  out += "# EOF\n";
  return out;
}

std::string SerializePrometheusText(const std::vector<MetricFamily>& families) {
  std::ostringstream out;
  prometheus::TextSerializer().Serialize(out, families);
  return out.str();
}

bool WantsOpenMetrics(std::string_view accept) {
  return accept.find("application/openmetrics-text") != std::string_view::npos;
}

}  // namespace kelvora::metrics
