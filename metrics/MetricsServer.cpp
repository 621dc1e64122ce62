// The endpoint's accept loop and the life of one request.
#include "metrics/MetricsServer.h"

#include <array>
#include <string>

#include "metrics/EndpointRoutes.h"

namespace kelvora::metrics {
namespace {

constexpr int kListenBacklog = 8;
// How long a client that was answered may take to close its side.
constexpr std::chrono::milliseconds kLingerLimit{1000};

}  // namespace

TMetricsServer::TMetricsServer(TEndpointSettings settings, TServiceProbe probe, TLogLine log)
    : settings_(std::move(settings)), probe_(std::move(probe)), log_(std::move(log)) {
  std::optional<platform::IpAddressBytes> address = settings_.Address;
  listener_ =
      platform::ListenOn(settings_.Ipv6 ? platform::IpFamily::V6 : platform::IpFamily::V4, address,
                         "[metrics] " + settings_.AddressText, settings_.Port, kListenBacklog);
  port_ = platform::LocalPort(listener_.Get());
  thread_ = std::thread([this] { Loop(); });
}

TMetricsServer::~TMetricsServer() {
  stopping_ = true;
  wake_.Signal();
  if (thread_.joinable()) thread_.join();
}

// Asleep in the wait until a client connects or the server stops.
void TMetricsServer::Loop() {
  std::array<platform::WatchedSocket, 2> watched{{{wake_.Handle()}, {listener_.Get()}}};
  while (!stopping_) {
    if (platform::WaitForSockets(watched, -1) <= 0) continue;
    if (watched[0].ready) wake_.Drain();
    if (!watched[1].ready || stopping_) continue;
    bool shortage = false;
    const platform::UniqueSocket client = platform::AcceptClient(listener_.Get(), shortage);
    if (client) {
      Serve(client);
    } else if (shortage) {
      // Out of descriptors: the listener stays readable, so back off instead of spinning.
      platform::WatchedSocket wake{wake_.Handle()};
      platform::WaitForSockets({&wake, 1}, 100);
    }
  }
}

TParseResult TMetricsServer::ReadRequest(const platform::UniqueSocket& client) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kRequestTimeLimit;
  std::string received;
  std::array<char, 2048> buffer;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return {TParseState::Invalid, {}, 408};
    std::array<platform::WatchedSocket, 2> watched{{{client.Get()}, {wake_.Handle()}}};
    if (platform::WaitForSockets(watched, static_cast<int>(left.count())) < 0) continue;
    if (watched[1].ready) return {TParseState::Invalid, {}, 0};  // stopping
    if (!watched[0].ready) continue;
    const size_t got = platform::ReceiveSome(client.Get(), buffer);
    if (got == 0) return {TParseState::Invalid, {}, 0};  // the peer went away
    received.append(buffer.data(), got);
    TParseResult parsed = ParseHttpRequest(received);
    if (parsed.State != TParseState::Incomplete) return parsed;
  }
}

void TMetricsServer::Serve(const platform::UniqueSocket& client) {
  platform::SetSendTimeout(client.Get(), static_cast<int>(kRequestTimeLimit.count()));
  const TParseResult parsed = ReadRequest(client);
  THttpResponse response;
  if (parsed.State == TParseState::Complete) {
    try {
      response = Respond(parsed.Request, settings_.Token, probe_);
    } catch (const std::exception& e) {
      log_(std::string("Erro ao responder às métricas: ") + e.what());
      response = Refusal(500);
    }
  } else if (parsed.Status != 0) {
    response = Refusal(parsed.Status);
  } else {
    return;  // nobody to answer
  }
  if (!platform::SendAll(client.Get(), ResponseBytes(response))) return;
  // Closing with unread input would reset the connection and could lose the response on its
  // way: the end of the stream is sent, and what the client still sends is read and dropped until
  // it closes, for a second at most.
  platform::ShutdownSending(client.Get());
  const auto deadline = std::chrono::steady_clock::now() + kLingerLimit;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    platform::WatchedSocket watched{client.Get()};
    if (left.count() <= 0 ||
        platform::WaitForSockets({&watched, 1}, static_cast<int>(left.count())) <= 0 ||
        platform::DiscardInput(client.Get()) == 0) {
      return;
    }
  }
}

std::unique_ptr<TMetricsEndpoint> StartMetricsEndpoint(const TEndpointSettings& settings,
                                                       TServiceProbe probe, TLogLine log) {
  return std::make_unique<TMetricsServer>(settings, std::move(probe), std::move(log));
}

}  // namespace kelvora::metrics
