// Winsock behind the listener: WSAPoll, a loopback socket pair as the wake-up, and the
// cancellation that ends blocked calls at shutdown.
#include "platform/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, whose types it uses.
#include <mstcpip.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/SocketAddress.h"
#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

[[noreturn]] void FailSocket(const std::string& what) {
  throw std::runtime_error(what + ": " + LastSocketError());
}

SOCKET Native(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

UniqueSocket Adopt(SOCKET socket) {
  return socket == INVALID_SOCKET ? UniqueSocket()
                                  : UniqueSocket(static_cast<SocketHandle>(socket));
}

void SetNonBlocking(SOCKET socket, bool on) {
  u_long mode = on ? 1 : 0;
  ::ioctlsocket(socket, FIONBIO, &mode);
}

}  // namespace

void CloseSocket(SocketHandle socket) noexcept {
  ::closesocket(Native(socket));
}

UniqueSocket ListenOn(IpFamily family, const std::optional<IpAddressBytes>& address,
                      const std::string& name, uint16_t port, int backlog) {
  const bool v4 = family == IpFamily::V4;
  const bool wildcard6 = !v4 && !address;
  const int af = v4 ? AF_INET : AF_INET6;
  UniqueSocket socket =
      Adopt(::WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  if (!socket && ::WSAGetLastError() == WSAEINVAL) {
    // A Windows 7 without its service pack's update knows no WSA_FLAG_NO_HANDLE_INHERIT: the
    // socket is made without it, and kept from child processes afterwards.
    socket = Adopt(::WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
    if (socket) {
      ::SetHandleInformation(reinterpret_cast<HANDLE>(Native(socket.Get())), HANDLE_FLAG_INHERIT, 0);
    }
  }
  if (!socket) {
    if (wildcard6 && ::WSAGetLastError() == WSAEAFNOSUPPORT) return {};
    FailSocket("Could not create the " + name + " socket");
  }
  // Another process may not bind the same port while this one listens; a port left in TIME_WAIT
  // by an earlier run is free on Windows without SO_REUSEADDR.
  const BOOL on = TRUE;
  ::setsockopt(Native(socket.Get()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&on), sizeof on);
  if (!v4) {
    // IPv6 listeners take IPv6 alone; IPv4 has listeners of its own.
    ::setsockopt(Native(socket.Get()), IPPROTO_IPV6, IPV6_V6ONLY,
                 reinterpret_cast<const char*>(&on), sizeof on);
  }
  const BindAddress where = ListenAddress(family, address, port);
  if (::bind(Native(socket.Get()), where.Get(), where.length) != 0) {
    if (wildcard6 && ::WSAGetLastError() == WSAEADDRNOTAVAIL) return {};
    FailSocket("Could not bind socket on port " + std::to_string(port) + " (" + name + ")");
  }
  if (::listen(Native(socket.Get()), backlog) != 0) {
    FailSocket("Could not listen (" + name + ")");
  }
  SetNonBlocking(Native(socket.Get()), true);
  return socket;
}

uint16_t LocalPort(SocketHandle socket) {
  sockaddr_storage address{};
  int length = sizeof address;
  ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length);
  return PortOf(address);
}

UniqueSocket AcceptClient(SocketHandle listener, bool& shortage) {
  shortage = false;
  UniqueSocket accepted = Adopt(::accept(Native(listener), nullptr, nullptr));
  if (!accepted) {
    const int error = ::WSAGetLastError();
    shortage = error == WSAEMFILE || error == WSAENOBUFS;
    return {};
  }
  // A socket accepted from a non-blocking listener is non-blocking too; the connection's reads
  // and writes block.
  SetNonBlocking(Native(accepted.Get()), false);
  const BOOL on = TRUE;
  ::setsockopt(Native(accepted.Get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
  return accepted;
}

// Winsock does not promise that shutdown() ends a recv or send another thread is already blocked
// in: such a receive may wait for the peer, and a page that froze or vanished never answers, so a
// pause or stop would wait until the keep-alive gives up on it. Cancelling the socket's pending
// I/O (of every thread) ends those calls at once; shutdown() comes first, so that a call made
// after the cancellation fails at once instead of blocking in its turn.
void ShutdownSocket(SocketHandle socket) noexcept {
  ::shutdown(Native(socket), SD_BOTH);
  ::CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), nullptr);
}

void ShutdownSending(SocketHandle socket) noexcept {
  ::shutdown(Native(socket), SD_SEND);
}

size_t DiscardInput(SocketHandle socket) noexcept {
  char buffer[16384];
  const int got = ::recv(Native(socket), buffer, sizeof buffer, 0);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

size_t ReceiveSome(SocketHandle socket, std::span<char> buffer) noexcept {
  const int size = static_cast<int>(std::min<size_t>(buffer.size(), 1 << 30));
  const int got = ::recv(Native(socket), buffer.data(), size, 0);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

bool SendAll(SocketHandle socket, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const int size = static_cast<int>(std::min<size_t>(bytes.size(), 1 << 30));
    const int sent = ::send(Native(socket), bytes.data(), size, 0);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

// Winsock takes the limit as a DWORD of milliseconds.
void SetSendTimeout(SocketHandle socket, int timeoutMs) noexcept {
  const DWORD limit = static_cast<DWORD>(timeoutMs);
  ::setsockopt(Native(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
               sizeof limit);
}

// Windows takes the idle time and the interval between probes; the count of probes and the time
// a reply may stay unacknowledged are its own.
void EnableKeepAlive(SocketHandle socket) noexcept {
  tcp_keepalive settings{};
  settings.onoff = 1;
  settings.keepalivetime = 45000;
  settings.keepaliveinterval = 15000;
  DWORD returned = 0;
  ::WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned,
             nullptr, nullptr);
}

int WaitForSockets(std::span<WatchedSocket> sockets, int timeoutMs) {
  std::vector<WSAPOLLFD> watched;
  watched.reserve(sockets.size());
  for (const WatchedSocket& s : sockets) watched.push_back({Native(s.socket), POLLRDNORM, 0});
  const int ready = ::WSAPoll(watched.data(), static_cast<ULONG>(watched.size()), timeoutMs);
  for (size_t i = 0; i < sockets.size(); ++i) sockets[i].ready = ready > 0 && watched[i].revents;
  return ready < 0 ? -1 : ready;
}

// Winsock has no eventfd: a TCP connection to itself over the loopback address, whose reading end
// WSAPoll watches like any socket.
WakeUp::WakeUp() {
  UniqueSocket listener = Adopt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener) FailSocket("Could not create the wake-up socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (::bind(Native(listener.Get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0 ||
      ::listen(Native(listener.Get()), 1) != 0 ||
      ::getsockname(Native(listener.Get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    FailSocket("Could not create the wake-up socket");
  }
  write_ = Adopt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!write_ || ::connect(Native(write_.Get()), reinterpret_cast<const sockaddr*>(&address),
                           sizeof address) != 0) {
    FailSocket("Could not connect the wake-up socket");
  }
  read_ = Adopt(::accept(Native(listener.Get()), nullptr, nullptr));
  if (!read_) FailSocket("Could not accept the wake-up socket");
  SetNonBlocking(Native(read_.Get()), true);
  SetNonBlocking(Native(write_.Get()), true);
}

WakeUp::~WakeUp() = default;

void WakeUp::Signal() noexcept {
  const char one = 1;
  ::send(Native(write_.Get()), &one, 1, 0);
}

void WakeUp::Drain() noexcept {
  char buffer[64];
  while (::recv(Native(read_.Get()), buffer, sizeof buffer, 0) > 0) continue;
}

std::string LastSocketError() {
  return win32::ErrorText(static_cast<DWORD>(::WSAGetLastError()));
}

void IgnoreBrokenPipes() {}

}  // namespace kelvora::platform
