// POSIX sockets behind the listener: poll, eventfd, accept4.
#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/SocketAddress.h"

namespace kelvora::platform {
namespace {

[[noreturn]] void FailSocket(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

int Fd(SocketHandle socket) {
  return static_cast<int>(socket);
}

}  // namespace

void CloseSocket(SocketHandle socket) noexcept {
  ::close(Fd(socket));
}

UniqueSocket ListenOn(IpFamily family, const std::optional<IpAddressBytes>& address,
                      const std::string& name, uint16_t port, int backlog) {
  const bool v4 = family == IpFamily::V4;
  const bool wildcard6 = !v4 && !address;
  UniqueSocket socket(
      ::socket(v4 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) {
    if (wildcard6 && errno == EAFNOSUPPORT) return {};
    FailSocket("Could not create the " + name + " socket", errno);
  }
  const int on = 1;
  ::setsockopt(Fd(socket.Get()), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (!v4) {
    // IPv6 listeners take IPv6 alone; IPv4 has listeners of its own.
    ::setsockopt(Fd(socket.Get()), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  const BindAddress where = ListenAddress(family, address, port);
  if (::bind(Fd(socket.Get()), where.Get(), static_cast<socklen_t>(where.length)) != 0) {
    if (wildcard6 && errno == EADDRNOTAVAIL) return {};
    FailSocket("Could not bind socket on port " + std::to_string(port) + " (" + name + ")", errno);
  }
  if (::listen(Fd(socket.Get()), backlog) != 0) {
    FailSocket("Could not listen (" + name + ")", errno);
  }
  return socket;
}

uint16_t LocalPort(SocketHandle socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length);
  return PortOf(address);
}

UniqueSocket AcceptClient(SocketHandle listener, bool& shortage) {
  shortage = false;
  const int accepted = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (accepted < 0) {
    shortage = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
    return {};
  }
  const int on = 1;
  ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return UniqueSocket(accepted);
}

void ShutdownSocket(SocketHandle socket) noexcept {
  ::shutdown(Fd(socket), SHUT_RDWR);
}

void ShutdownSending(SocketHandle socket) noexcept {
  ::shutdown(Fd(socket), SHUT_WR);
}

size_t DiscardInput(SocketHandle socket) noexcept {
  char buffer[16384];
  const ssize_t got = ::recv(Fd(socket), buffer, sizeof buffer, 0);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

size_t ReceiveSome(SocketHandle socket, std::span<char> buffer) noexcept {
  ssize_t got = 0;
  do {
    got = ::recv(Fd(socket), buffer.data(), buffer.size(), 0);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

bool SendAll(SocketHandle socket, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(Fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void SetSendTimeout(SocketHandle socket, int timeoutMs) noexcept {
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  ::setsockopt(Fd(socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void EnableKeepAlive(SocketHandle socket) noexcept {
  constexpr int kIdleSeconds = 45;
  constexpr int kIntervalSeconds = 15;
  constexpr int kProbes = 4;
  constexpr unsigned kUserTimeoutMs = 105000;
  const int fd = Fd(socket);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kIdleSeconds, sizeof(int));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kIntervalSeconds, sizeof(int));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kProbes, sizeof(int));
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
}

int WaitForSockets(std::span<WatchedSocket> sockets, int timeoutMs) {
  std::vector<pollfd> watched;
  watched.reserve(sockets.size());
  for (const WatchedSocket& s : sockets) watched.push_back({Fd(s.socket), POLLIN, 0});
  const int ready = ::poll(watched.data(), watched.size(), timeoutMs);
  for (size_t i = 0; i < sockets.size(); ++i) sockets[i].ready = ready > 0 && watched[i].revents;
  return ready;
}

WakeUp::WakeUp() : read_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!read_) FailSocket("Could not create the wake-up descriptor", errno);
}

WakeUp::~WakeUp() = default;

void WakeUp::Signal() noexcept {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(Fd(read_.Get()), &one, sizeof one);
}

void WakeUp::Drain() noexcept {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(Fd(read_.Get()), &count, sizeof count);
}

std::string LastSocketError() {
  return std::strerror(errno);
}

void IgnoreBrokenPipes() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace kelvora::platform
