// The endpoint's listener on the service's platform sockets: one thread asleep in its wait until
// a scraper connects, one small request per connection read within a time limit, answered, and
// the connection closed. Requests are served one after the other: the endpoint is for a
// collector on the same machine, and a peer that dawdles holds it up at most the time limit.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "metrics/HttpRequest.h"
#include "metrics/Telemetry.h"
#include "platform/Sockets.h"

namespace kelvora::metrics {

// How long a client has to send its whole request, and a send may wait for it to read.
inline constexpr std::chrono::milliseconds kRequestTimeLimit{5000};

class TMetricsServer final : public TMetricsEndpoint {
 public:
  // Listens on the settings' address and starts the thread; throws std::runtime_error with the
  // reason when it cannot listen.
  TMetricsServer(TEndpointSettings settings, TServiceProbe probe, TLogLine log);
  // Stops the thread, ending a request in progress.
  ~TMetricsServer() override;
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  uint16_t Port() const override { return port_; }

 private:
  void Loop();
  void Serve(const platform::UniqueSocket& client);
  // Reads until a whole request head has arrived, the time limit passes or the peer stops.
  TParseResult ReadRequest(const platform::UniqueSocket& client);

  const TEndpointSettings settings_;
  const TServiceProbe probe_;
  const TLogLine log_;
  platform::UniqueSocket listener_;
  uint16_t port_ = 0;
  platform::WakeUp wake_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace kelvora::metrics
