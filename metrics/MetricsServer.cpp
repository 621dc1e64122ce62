// The endpoint's accept loop and the life of one request.
#include "metrics/MetricsServer.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

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

// One connection: reading its request until its deadline, then, once answered, reading and
// dropping what it still sends until it closes or its linger time passes.
struct TMetricsServer::TClient {
  platform::UniqueSocket Socket;
  std::chrono::steady_clock::time_point Deadline;
  std::string Received;
  bool Answered = false;
};

// Asleep in the wait until a client connects or sends, a deadline passes, or the server stops.
void TMetricsServer::Loop() {
  using Clock = std::chrono::steady_clock;
  std::vector<TClient> clients;
  std::vector<platform::WatchedSocket> watched;
  while (!stopping_) {
    watched.assign({{wake_.Handle()}, {listener_.Get()}});
    int timeoutMs = -1;
    const Clock::time_point now = Clock::now();
    for (const TClient& client : clients) {
      watched.push_back({client.Socket.Get()});
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(client.Deadline - now);
      const int ms = static_cast<int>(std::max<int64_t>(0, left.count()));
      if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = ms;
    }
    if (platform::WaitForSockets(watched, timeoutMs) < 0) continue;
    if (watched[0].ready) wake_.Drain();
    if (stopping_) break;
    const Clock::time_point after = Clock::now();
    std::vector<TClient> kept;
    for (size_t i = 0; i < clients.size(); ++i) {
      TClient& client = clients[i];
      bool keep = true;
      if (watched[i + 2].ready) {
        keep = Receive(client);
      } else if (after >= client.Deadline) {
        // A client that never sent its whole request is told so; an answered one is closed.
        if (!client.Answered) Answer(client, {TParseState::Invalid, {}, 408});
        keep = false;
      }
      if (keep) kept.push_back(std::move(client));
    }
    clients = std::move(kept);
    if (watched[1].ready) Accept(clients);
  }
}

void TMetricsServer::Accept(std::vector<TClient>& clients) {
  bool shortage = false;
  platform::UniqueSocket socket = platform::AcceptClient(listener_.Get(), shortage);
  if (!socket) {
    if (shortage) {
      // Out of descriptors: the listener stays readable, so back off instead of spinning.
      platform::WatchedSocket wake{wake_.Handle()};
      platform::WaitForSockets({&wake, 1}, 100);
    }
    return;
  }
  const auto unfinished = [](const TClient& client) { return !client.Answered; };
  if (static_cast<size_t>(std::count_if(clients.begin(), clients.end(), unfinished)) >=
      kMaxUnfinishedClients) {
    clients.erase(std::find_if(clients.begin(), clients.end(), unfinished));
  }
  platform::SetSendTimeout(socket.Get(), static_cast<int>(kLingerLimit.count()));
  clients.push_back({std::move(socket), std::chrono::steady_clock::now() + kRequestTimeLimit, {}});
}

bool TMetricsServer::Receive(TClient& client) {
  std::array<char, 2048> buffer;
  if (client.Answered) return platform::DiscardInput(client.Socket.Get()) != 0;
  const size_t got = platform::ReceiveSome(client.Socket.Get(), buffer);
  if (got == 0) return false;  // the peer went away
  client.Received.append(buffer.data(), got);
  const TParseResult parsed = ParseHttpRequest(client.Received);
  if (parsed.State == TParseState::Incomplete) return true;
  Answer(client, parsed);
  return client.Answered;
}

void TMetricsServer::Answer(TClient& client, const TParseResult& parsed) {
  THttpResponse response;
  if (parsed.State == TParseState::Complete) {
    try {
      response = Respond(parsed.Request, settings_.Token, probe_);
    } catch (const std::exception& e) {
      log_(std::string("Erro ao responder às métricas: ") + e.what());
      response = Refusal(500);
    }
  } else {
    response = Refusal(parsed.Status);
  }
  client.Received.clear();
  if (!platform::SendAll(client.Socket.Get(), ResponseBytes(response))) return;
  // Closing with unread input would reset the connection and could lose the response on its
  // way: the end of the stream is sent, and what the client still sends is read and dropped until
  // it closes, for a second at most.
  platform::ShutdownSending(client.Socket.Get());
  client.Answered = true;
  client.Deadline = std::chrono::steady_clock::now() + kLingerLimit;
}

std::unique_ptr<TMetricsEndpoint> StartMetricsEndpoint(const TEndpointSettings& settings,
                                                       TServiceProbe probe, TLogLine log) {
  return std::make_unique<TMetricsServer>(settings, std::move(probe), std::move(log));
}

}  // namespace kelvora::metrics
