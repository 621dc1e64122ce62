// Listening sockets, the accept loop, the connection limits and the life of each connection thread.
#include "service/ServerThread.h"

#include "metrics/Telemetry.h"
#include "service/WebSocketHandshake.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kelvora::service {
namespace {

// The limit is logged at most this often, so a flood of connections does not flood the log.
constexpr auto kLimitLogInterval = std::chrono::minutes(1);

}  // namespace

TServerThread::TServerThread(TServerSettings settings, MessageHandler& handler)
    : settings_(std::move(settings)), handler_(handler) {}

TServerThread::~TServerThread() {
  Deactivate();
}

void TServerThread::Listen() {
  uint16_t port = settings_.Port;
  // With port 0 the first listener takes the system's choice and the others follow it.
  auto add = [&](platform::IpFamily family, const std::optional<platform::IpAddressBytes>& address,
                 const std::string& name) {
    platform::UniqueSocket socket = platform::ListenOn(family, address, name, port, kListenBacklog);
    if (!socket) return;
    if (port == 0) port = platform::LocalPort(socket.Get());
    listeners_.push_back(std::move(socket));
  };
  if (settings_.ListenAddresses.empty()) {
    add(platform::IpFamily::V4, std::nullopt, "IPv4");
    add(platform::IpFamily::V6, std::nullopt, "IPv6");
  } else {
    for (const std::string& text : settings_.ListenAddresses) {
      const std::optional<TListenAddress> address = ParseListenAddress(text);
      if (!address) {
        throw std::runtime_error("Endereço inválido em [server] listen: " + EscapeForLog(text));
      }
      add(address->IsIpv4() ? platform::IpFamily::V4 : platform::IpFamily::V6, address->Bytes,
          text);
    }
  }
  port_ = port;
}

void TServerThread::Start() {
  if (acceptThread_.joinable()) return;
  // A write to a socket the client has closed must fail, not kill the process.
  platform::IgnoreBrokenPipes();
  context_ = CreateServerContext(TCertificateFiles::In(settings_.BaseDir), settings_.TlsMinVersion);
  wake_ = std::make_unique<platform::WakeUp>();
  try {
    Listen();
    stopping_ = false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  } catch (...) {
    listeners_.clear();
    throw;
  }
}

void TServerThread::Deactivate() {
  if (!acceptThread_.joinable()) return;
  stopping_ = true;
  Wake();
  acceptThread_.join();
  listeners_.clear();
  std::list<ConnectionSlot> open;
  {
    const std::lock_guard lock(connectionsLock_);
    open.splice(open.end(), connections_);
    for (ConnectionSlot& slot : open) {
      if (slot.connection) slot.connection->Shutdown();
    }
  }
  for (ConnectionSlot& slot : open) slot.thread.join();
}

size_t TServerThread::OpenConnections() {
  const std::lock_guard lock(connectionsLock_);
  return static_cast<size_t>(
      std::count_if(connections_.begin(), connections_.end(),
                    [](const ConnectionSlot& slot) { return !slot.closing && !slot.finished; }));
}

void TServerThread::Log(std::string_view text) const {
  if (settings_.Log) settings_.Log(text);
}

// Wakes the accept thread for a stop request.
void TServerThread::Wake() {
  wake_->Signal();
}

// Blocks until the wake-up is signalled or timeoutMs passes (-1: no limit), and resets it; true
// when it was signalled.
bool TServerThread::WaitForWake(int timeoutMs) {
  platform::WatchedSocket watched{wake_->Handle()};
  if (platform::WaitForSockets({&watched, 1}, timeoutMs) <= 0) return false;
  wake_->Drain();
  return true;
}

// The accept thread: asleep in its wait until a client connects, a deadline passes or
// deactivation wakes it. Threads of connections that have ended are joined when it next wakes
// rather than the moment they end, which would cost a wake-up of this thread per connection: only
// the connections that ended since then wait to be joined.
void TServerThread::AcceptLoop() {
  std::vector<platform::WatchedSocket> watched;
  watched.push_back({wake_->Handle()});
  for (const platform::UniqueSocket& listener : listeners_) watched.push_back({listener.Get()});
  int timeoutMs = -1;
  while (!stopping_) {
    if (platform::WaitForSockets(watched, timeoutMs) < 0) continue;
    if (watched[0].ready) wake_->Drain();
    ReapFinished();
    for (size_t i = 1; i < watched.size() && !stopping_; ++i) {
      if (watched[i].ready) Accept(watched[i].socket);
    }
    timeoutMs = ExpireDeadlines();
  }
  ReapFinished();
}

// Shuts down every connection whose handshakes are past their deadline, or that has started no
// session by its deadline after them (its thread then fails its read and ends), and returns the
// milliseconds to the next deadline, -1 when there is none. A connection's session deadline is
// always later than its handshake deadline, at which this thread wakes anyway, so no wake-up is
// needed when a connection is upgraded.
int TServerThread::ExpireDeadlines() {
  const Clock::time_point now = Clock::now();
  std::optional<Clock::time_point> next;
  bool idleClosed = false;
  {
    const std::lock_guard lock(connectionsLock_);
    for (ConnectionSlot& slot : connections_) {
      if (!slot.Pending() && !slot.Idle()) continue;
      if (slot.deadline <= now) {
        idleClosed = idleClosed || slot.upgraded;
        slot.closing = true;
        slot.connection->Shutdown();
      } else if (!next || slot.deadline < *next) {
        next = slot.deadline;
      }
    }
  }
  if (idleClosed) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(settings_.SessionDeadline);
    LogLimit(lastIdleExpiryLog_, "Conexão fechada: nenhuma sessão iniciada " +
                                     std::to_string(seconds.count()) +
                                     " s após o handshake WebSocket.");
  }
  if (!next) return -1;
  // Rounded up, so the wait never ends just before a deadline and finds nothing to do.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
  return static_cast<int>(wait.count());
}

// Takes one waiting client and gives it a thread of its own, or closes it when the limit is
// reached and no connection still in its handshakes can make room.
void TServerThread::Accept(platform::SocketHandle listener) {
  bool shortage = false;
  platform::UniqueSocket socket = platform::AcceptClient(listener, shortage);
  if (!socket) {
    // Out of descriptors or memory: the listener stays readable, so back off instead of spinning.
    if (shortage && WaitForWake(100)) Wake();
    return;
  }
  if (!MakeRoom()) return;  // the socket closes with its owner
  platform::EnableKeepAlive(socket.Get());
  try {
    // The slot is built in a list of its own and spliced in once its thread runs, so a failure
    // here (no memory, no thread) drops this connection alone.
    std::list<ConnectionSlot> fresh(1);
    ConnectionSlot& slot = fresh.front();
    slot.connection = std::make_shared<TlsConnection>(std::move(socket), context_.get());
    slot.deadline = Clock::now() + settings_.HandshakeDeadline;
    const std::lock_guard lock(connectionsLock_);
    slot.thread = std::thread([this, &slot] { RunConnection(slot); });
    connections_.splice(connections_.end(), fresh);
  } catch (const std::exception&) {
    // The connection is dropped; its socket closes with it.
  }
}

// At the limit of open connections, the oldest one still in its handshakes, or else the oldest
// one on which no session has started, is closed to make room for the new one: a page with a
// session is never pushed out by peers that only connect, however long it idles between sales,
// and a page that connects behind a crowd of silent peers gets in at once instead of after their
// deadlines. When every connection has a session, the new one is refused (false).
bool TServerThread::MakeRoom() {
  bool evicted = false;
  bool pending = false;
  {
    const std::lock_guard lock(connectionsLock_);
    size_t open = 0;
    ConnectionSlot* oldestPending = nullptr;
    ConnectionSlot* oldestIdle = nullptr;
    for (ConnectionSlot& slot : connections_) {
      if (slot.closing || slot.finished) continue;
      ++open;
      if (slot.Pending() && !oldestPending) oldestPending = &slot;
      if (slot.Idle() && !oldestIdle) oldestIdle = &slot;
    }
    if (open < settings_.MaxConnections) return true;
    ConnectionSlot* const victim = oldestPending ? oldestPending : oldestIdle;
    if (victim) {
      victim->closing = true;
      victim->connection->Shutdown();
    }
    evicted = victim != nullptr;
    pending = oldestPending != nullptr;
  }
  metrics::CountRejectedConnection(metrics::TConnectionRejection::Limit);
  const std::string limit = "Limite de " + std::to_string(settings_.MaxConnections) +
                            " conexões atingido: ";
  if (evicted && pending) {
    LogLimit(lastEvictionLog_, limit + "a conexão mais antiga ainda sem handshake foi fechada.");
  } else if (evicted) {
    LogLimit(lastIdleEvictionLog_, limit + "a conexão mais antiga sem sessão foi fechada.");
  } else {
    LogLimit(lastRefusalLog_, limit + "nova conexão fechada.");
  }
  return evicted;
}

// Logs text unless it was logged less than a minute ago (last says when).
void TServerThread::LogLimit(std::optional<Clock::time_point>& last, std::string_view text) {
  const Clock::time_point now = Clock::now();
  if (last && now - *last < kLimitLogInterval) return;
  last = now;
  Log(text);
}

// Joins the threads of connections that have ended, so a long-running service does not collect
// them; run by the accept thread, which is the only one that adds slots.
void TServerThread::ReapFinished() {
  std::list<ConnectionSlot> ended;
  {
    const std::lock_guard lock(connectionsLock_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->finished) ended.splice(ended.end(), connections_, it);
      it = next;
    }
  }
  for (ConnectionSlot& slot : ended) slot.thread.join();
}

// The life of one connection, on its own thread: connect (TLS), the opening handshake, then
// execute until an error ends it, then close and the disconnect step. The thread frees its own
// socket and TLS session, so that nothing but the thread itself waits for the accept thread to
// join it at its next wake-up.
void TServerThread::RunConnection(ConnectionSlot& slot) {
  TlsConnection& connection = *slot.connection;
  bool tlsDone = false;
  try {
    connection.TCPServerConnect();
    tlsDone = true;
    TCPServerExecute(connection);
    {
      // Under the lock, so the deadline either ends the handshakes or finds them done.
      const std::lock_guard lock(connectionsLock_);
      slot.upgraded = true;
      slot.deadline = Clock::now() + settings_.SessionDeadline;
    }
    for (;;) TCPServerExecute(connection);
  } catch (const EOriginRefused& e) {
    metrics::CountRejectedConnection(metrics::TConnectionRejection::Origin);
    Log("Conexão recusada: origem não permitida: " + EscapeForLog(e.Origin));
  } catch (...) {
    // Whatever ends the execute steps ends the connection; nothing is logged. Only this thread
    // sets upgraded, so it reads it without the lock.
    if (!slot.upgraded) {
      metrics::CountRejectedConnection(tlsDone ? metrics::TConnectionRejection::Handshake
                                               : metrics::TConnectionRejection::Tls);
    }
  }
  connection.Close();
  try {
    handler_.OnDisconnect(connection);
  } catch (...) {
    // The disconnect step's failures stay on this connection.
  }
  {
    const std::lock_guard lock(connectionsLock_);
    slot.connection.reset();
    slot.finished = true;
  }
}

// One execute step: the opening handshake while the connection is new, else one frame read and,
// when it holds text, routed with this connection as the one to answer.
void TServerThread::TCPServerExecute(TlsConnection& AContext) {
  if (AContext.State() == TClientState::csHandshake) {
    WebSocketHandshake(AContext, settings_.Origins);
    AContext.SetState(TClientState::csConnected);
    return;
  }
  std::string DecodedMessage;
  AContext.DecodeWebSocketFrame(DecodedMessage);
  if (!DecodedMessage.empty()) handler_.RouteTargeting(DecodedMessage, AContext);
  handler_.OnExecuteEnd(AContext);
}

}  // namespace kelvora::service
