// Timing loops of the load tool.
#include "Measurements.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kelvora::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

}  // namespace

void MeasureRoundTrips(TWsClient& client, const std::string& request, int count,
                       std::vector<double>& samples) {
  samples.reserve(samples.size() + static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    client.Send(request);
    client.Receive();
    samples.push_back(1e6 * Seconds(Clock::now() - start));
  }
}

double MeasurePipelined(TWsClient& client, const std::string& request, int count, int batch) {
  const Clock::time_point start = Clock::now();
  for (int sent = 0; sent < count; sent += batch) {
    const int n = std::min(batch, count - sent);
    for (int i = 0; i < n; ++i) client.Send(request);
    for (int i = 0; i < n; ++i) client.Receive();
  }
  return Seconds(Clock::now() - start);
}

double MeasureConnections(TClientContext& context, uint16_t port, int count) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    TWsClient client(context);
    client.Connect(port);
    client.Close();
  }
  return Seconds(Clock::now() - start);
}

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  const double size = static_cast<double>(samples.size());
  const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * size));
  const size_t index = std::min(samples.size() - 1, rank == 0 ? 0 : rank - 1);
  const auto nth = samples.begin() + static_cast<std::ptrdiff_t>(index);
  std::nth_element(samples.begin(), nth, samples.end());
  return samples[index];
}

}  // namespace kelvora::bench
