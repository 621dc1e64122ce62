// Listening sockets, the accept loop and the life of each connection thread.
#include "service/ServerThread.h"

#include "service/WebSocketHandshake.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

namespace kelvora::service {
namespace {

[[noreturn]] void FailSocket(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

// A non-blocking listening socket on the wildcard address of family. Returns an empty descriptor
// when the family is IPv6 and the system has no IPv6; throws on any other failure.
platform::UniqueFd ListenOn(int family, uint16_t port) {
  const char* name = family == AF_INET ? "IPv4" : "IPv6";
  platform::UniqueFd socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) {
    if (family == AF_INET6 && errno == EAFNOSUPPORT) return {};
    FailSocket(std::string("Could not create the ") + name + " socket", errno);
  }
  const int on = 1;
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  int bound = 0;
  if (family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    bound = ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } else {
    ::setsockopt(socket.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(port);
    bound = ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (bound != 0) {
    if (family == AF_INET6 && errno == EADDRNOTAVAIL) return {};
    FailSocket("Could not bind socket on port " + std::to_string(port) + " (" + name + ")", errno);
  }
  if (::listen(socket.Get(), TServerThread::kListenBacklog) != 0) {
    FailSocket(std::string("Could not listen (") + name + ")", errno);
  }
  return socket;
}

uint16_t LocalPort(int socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

}  // namespace

TServerThread::TServerThread(TServerSettings settings, MessageHandler& handler)
    : settings_(std::move(settings)), handler_(handler) {}

TServerThread::~TServerThread() {
  Deactivate();
}

void TServerThread::Listen() {
  platform::UniqueFd v4 = ListenOn(AF_INET, settings_.Port);
  port_ = LocalPort(v4.Get());
  listeners_.push_back(std::move(v4));
  if (platform::UniqueFd v6 = ListenOn(AF_INET6, port_)) listeners_.push_back(std::move(v6));
}

void TServerThread::Start() {
  if (acceptThread_.joinable()) return;
  // A write to a socket the client has closed must fail, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  context_ = CreateServerContext(TCertificateFiles::In(settings_.BaseDir));
  wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_) FailSocket("Could not create the wake-up descriptor", errno);
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
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
}

// Blocks until the wake-up descriptor is signalled or timeoutMs passes (-1: no limit), and resets
// it; true when it was signalled.
bool TServerThread::WaitForWake(int timeoutMs) {
  pollfd watched{wake_.Get(), POLLIN, 0};
  if (::poll(&watched, 1, timeoutMs) <= 0) return false;
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &count, sizeof count);
  return true;
}

// The accept thread: asleep in poll() until a client connects or deactivation wakes it. Threads of
// connections that have ended are joined when the next client arrives rather than the moment they
// end, which would cost a wake-up of this thread per connection: only the connections that ended
// since the last accept wait to be joined.
void TServerThread::AcceptLoop() {
  std::vector<pollfd> watched;
  watched.push_back({wake_.Get(), POLLIN, 0});
  for (const platform::UniqueFd& listener : listeners_)
    watched.push_back({listener.Get(), POLLIN, 0});
  while (!stopping_) {
    if (::poll(watched.data(), watched.size(), -1) < 0) continue;
    if (watched[0].revents != 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &count, sizeof count);
    }
    ReapFinished();
    for (size_t i = 1; i < watched.size() && !stopping_; ++i) {
      if (watched[i].revents != 0) Accept(watched[i].fd);
    }
  }
  ReapFinished();
}

// Takes one waiting client and gives it a thread of its own.
void TServerThread::Accept(int listener) {
  platform::UniqueFd socket(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  if (!socket) {
    // Out of descriptors or memory: the listener stays readable, so back off instead of spinning.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      if (WaitForWake(100)) Wake();
    }
    return;
  }
  const int on = 1;
  ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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
