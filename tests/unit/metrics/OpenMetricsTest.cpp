// The OpenMetrics writer: counters declared without "_total", escaped labels and help, histogram
// buckets up to +Inf, and the closing "# EOF".
#include "metrics/OpenMetrics.h"

#include <gtest/gtest.h>

#include <limits>

namespace kelvora::metrics {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

TEST(SerializeOpenMetrics, WritesEachTypeAsTheFormatWants) {
  ClientMetric counter;
  counter.label = {{"operation", "payment"}, {"outcome", "approved"}};
  counter.counter.value = 3;
  ClientMetric gauge;
  gauge.label = {{"version", "a\\b\"c\nd"}};
  gauge.gauge.value = 1.5;
  ClientMetric histogram;
  histogram.histogram.sample_count = 3;
  histogram.histogram.sample_sum = 4.25;
  histogram.histogram.bucket = {{1, 0.5}, {2, 1}, {3, std::numeric_limits<double>::infinity()}};
  const std::vector<MetricFamily> families = {
      {"kelvora_transactions_total", "Dialogues.", MetricType::Counter, {counter}},
      {"kelvora_build_info", "Say \"hi\"\nthere.", MetricType::Gauge, {gauge}},
      {"kelvora_dialogue_duration_seconds", "Dialogue.", MetricType::Histogram, {histogram}},
      {"kelvora_empty", "None yet.", MetricType::Gauge, {}},
  };
  EXPECT_EQ(SerializeOpenMetrics(families),
            "# TYPE kelvora_transactions counter\n"
            "# HELP kelvora_transactions Dialogues.\n"
            "kelvora_transactions_total{operation=\"payment\",outcome=\"approved\"} 3\n"
            "# TYPE kelvora_build_info gauge\n"
            "# HELP kelvora_build_info Say \\\"hi\\\"\\nthere.\n"
            "kelvora_build_info{version=\"a\\\\b\\\"c\\nd\"} 1.5\n"
            "# TYPE kelvora_dialogue_duration_seconds histogram\n"
            "# HELP kelvora_dialogue_duration_seconds Dialogue.\n"
            "kelvora_dialogue_duration_seconds_bucket{le=\"0.5\"} 1\n"
            "kelvora_dialogue_duration_seconds_bucket{le=\"1\"} 2\n"
            "kelvora_dialogue_duration_seconds_bucket{le=\"+Inf\"} 3\n"
            "kelvora_dialogue_duration_seconds_count 3\n"
            "kelvora_dialogue_duration_seconds_sum 4.25\n"
            "# TYPE kelvora_empty gauge\n"
            "# HELP kelvora_empty None yet.\n"
            "# EOF\n");
}

TEST(WantsOpenMetrics, FollowsTheAcceptHeader) {
  EXPECT_TRUE(WantsOpenMetrics(
      "application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;"
      "q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1"));
  EXPECT_FALSE(WantsOpenMetrics("text/plain;version=0.0.4"));
  EXPECT_FALSE(WantsOpenMetrics(""));
}

}  // namespace
}  // namespace kelvora::metrics
