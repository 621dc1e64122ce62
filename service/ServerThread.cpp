// Listening sockets, the accept loop and the life of each connection thread.
#include "service/ServerThread.h"

#include "service/WebSocketHandshake.h"

#include <stdexcept>
#include <string>

namespace kelvora::service {
TServerThread::TServerThread(TServerSettings settings, MessageHandler& handler)
    : settings_(std::move(settings)), handler_(handler) {}

TServerThread::~TServerThread() {
  Deactivate();
}

void TServerThread::Listen() {
  platform::UniqueSocket v4 =
      platform::ListenOn(platform::IpFamily::V4, settings_.Port, kListenBacklog);
  port_ = platform::LocalPort(v4.Get());
  listeners_.push_back(std::move(v4));
  if (platform::UniqueSocket v6 = platform::ListenOn(platform::IpFamily::V6, port_, kListenBacklog))
    listeners_.push_back(std::move(v6));
}

void TServerThread::Start() {
  if (acceptThread_.joinable()) return;
  // A write to a socket the client has closed must fail, not kill the process.
  platform::IgnoreBrokenPipes();
  context_ = CreateServerContext(TCertificateFiles::In(settings_.BaseDir));
  wake_.emplace();
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

// Wakes the accept thread for a stop request.
void TServerThread::Wake() {
  wake_->Signal();
}

// Blocks until the wake-up descriptor is signalled or timeoutMs passes (-1: no limit), and resets
// it; true when it was signalled.
bool TServerThread::WaitForWake(int timeoutMs) {
  platform::WatchedSocket watched{wake_->Handle()};
  if (platform::WaitForSockets({&watched, 1}, timeoutMs) <= 0) return false;
  wake_->Drain();
  return true;
}

// The accept thread: asleep until a client connects or deactivation wakes it. Threads of
// connections that have ended are joined when the next client arrives rather than the moment they
// end, which would cost a wake-up of this thread per connection: only the connections that ended
// since the last accept wait to be joined.
void TServerThread::AcceptLoop() {
  std::vector<platform::WatchedSocket> watched;
  watched.push_back({wake_->Handle()});
  for (const platform::UniqueSocket& listener : listeners_) watched.push_back({listener.Get()});
  while (!stopping_) {
    if (platform::WaitForSockets(watched, -1) < 0) continue;
    if (watched[0].ready) wake_->Drain();
    ReapFinished();
    for (size_t i = 1; i < watched.size() && !stopping_; ++i) {
      if (watched[i].ready) Accept(watched[i].socket);
    }
  }
  ReapFinished();
}

// Takes one waiting client and gives it a thread of its own.
void TServerThread::Accept(platform::SocketHandle listener) {
  bool shortage = false;
  platform::UniqueSocket socket = platform::AcceptClient(listener, shortage);
  if (!socket) {
    // Out of descriptors or memory: the listener stays readable, so back off instead of spinning.
    if (shortage && WaitForWake(100)) Wake();
    return;
  }
  try {
    // The slot is built in a list of its own and spliced in once its thread runs, so a failure
    // here (no memory, no thread) drops this connection alone.
    std::list<ConnectionSlot> fresh(1);
    ConnectionSlot& slot = fresh.front();
    slot.connection = std::make_shared<TlsConnection>(std::move(socket), context_.get());
    const std::lock_guard lock(connectionsLock_);
    slot.thread = std::thread([this, &slot] { RunConnection(slot); });
    connections_.splice(connections_.end(), fresh);
  } catch (const std::exception&) {
    // The connection is dropped; its socket closes with it.
  }
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

// The life of one connection, on its own thread: connect (TLS), execute until an error ends it,
// then close and the disconnect step. The thread frees its own socket and TLS session, so that
// nothing but the thread itself waits for the accept thread to join it at its next wake-up.
void TServerThread::RunConnection(ConnectionSlot& slot) {
  TlsConnection& connection = *slot.connection;
  try {
    connection.TCPServerConnect();
    for (;;) TCPServerExecute(connection);
  } catch (...) {
    // Whatever ends the execute steps ends the connection; nothing is logged.
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
    WebSocketHandshake(AContext);
    AContext.SetState(TClientState::csConnected);
    return;
  }
  std::string DecodedMessage;
  AContext.DecodeWebSocketFrame(DecodedMessage);
  if (!DecodedMessage.empty()) handler_.RouteTargeting(DecodedMessage, AContext);
  handler_.OnExecuteEnd(AContext);
}

}  // namespace kelvora::service
