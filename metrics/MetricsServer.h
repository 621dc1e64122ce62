// The endpoint's listener on the service's platform sockets: one thread asleep in its wait until
// a scraper connects or one of its clients sends, one small request per connection read within a
// time limit of its own, answered, and the connection closed. Clients are served side by side,
// so a few silent connections can never keep a scrape (and a health check) from its answer.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "metrics/HttpRequest.h"
#include "metrics/Telemetry.h"
#include "platform/Sockets.h"

namespace kelvora::metrics {

// How long a client has to send its whole request head; a scraper sends it at once.
inline constexpr std::chrono::milliseconds kRequestTimeLimit{2000};
// The most connections still sending their request: at the limit the oldest is closed, so that
// idle connections cannot exhaust the endpoint.
inline constexpr size_t kMaxUnfinishedClients = 16;

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
  struct TClient;
  void Loop();
  void Accept(std::vector<TClient>& clients);
  // Reads what a client sent; answers it once its request is whole or cannot be one. False when
  // the client is done with.
  bool Receive(TClient& client);
  void Answer(TClient& client, const TParseResult& parsed);

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
