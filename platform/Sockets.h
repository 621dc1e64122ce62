// The TCP sockets under the TLS listener, behind the few calls it needs: listening and accepting,
// waiting for input, shutting a connection down, and a wake-up the accept loop can wait on.
// POSIX sockets on Linux (Sockets.cpp), Winsock on Windows (win32/Sockets.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kelvora::platform {

// A socket as the system names it: a descriptor on Linux, a SOCKET on Windows. OpenSSL takes
// either as an int.
using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Closes a socket (close or closesocket).
void CloseSocket(SocketHandle socket) noexcept;

// Owns one socket: closed exactly once, when its owner goes away. Move-only.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SocketHandle socket) : socket_(socket) {}
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(std::exchange(other.socket_, kNoSocket)) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.socket_, kNoSocket));
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;
  ~UniqueSocket() { Reset(); }

  SocketHandle Get() const { return socket_; }
  bool Valid() const { return socket_ != kNoSocket; }
  explicit operator bool() const { return Valid(); }

  void Reset(SocketHandle socket = kNoSocket) {
    if (socket_ != kNoSocket) CloseSocket(socket_);
    socket_ = socket;
  }

 private:
  SocketHandle socket_ = kNoSocket;
};

enum class IpFamily { V4, V6 };

// A non-blocking listening socket with address reuse (and IPv6 only, for V6) on address (network
// order; IPv4 uses the first 4 bytes), or on the wildcard address of family when there is none;
// name names it in errors. Returns an empty socket when the wildcard address is IPv6 and the
// system has no IPv6; throws std::runtime_error with the reason on any other failure.
using IpAddressBytes = std::array<uint8_t, 16>;
UniqueSocket ListenOn(IpFamily family, const std::optional<IpAddressBytes>& address,
                      const std::string& name, uint16_t port, int backlog);

// The local port a socket is bound to.
uint16_t LocalPort(SocketHandle socket);

// Takes one waiting client as a blocking socket with Nagle's delay off. Empty when none could be
// taken; shortage then tells whether the system ran out of descriptors or memory, in which case
// the listener stays readable and the caller should back off.
UniqueSocket AcceptClient(SocketHandle listener, bool& shortage);

// Shuts both directions of a socket down, unblocking every read or write waiting on it.
void ShutdownSocket(SocketHandle socket) noexcept;

// Shuts only the sending direction down: the peer reads the end of the stream after what was
// sent, while what it still sends can be read.
void ShutdownSending(SocketHandle socket) noexcept;

// Reads what has arrived on a socket and drops it; the bytes read, 0 at the end of the stream or
// on a failure.
size_t DiscardInput(SocketHandle socket) noexcept;

// Reads what has arrived on a socket into buffer, blocking until something has; the bytes read, 0
// at the end of the stream or on a failure.
size_t ReceiveSome(SocketHandle socket, std::span<char> buffer) noexcept;

// Like send, but make sure all of bytes is written before returning; false when the socket failed
// or a send waited longer than the socket's send time limit.
bool SendAll(SocketHandle socket, std::string_view bytes) noexcept;

// Limits how long one send may block on a peer that does not read (SO_SNDTIMEO).
void SetSendTimeout(SocketHandle socket, int timeoutMs) noexcept;

// Keep-alive on an accepted socket, so a peer that vanishes without closing (cable pulled, laptop
// asleep) is noticed within two minutes: probes start after 45 s of silence, every 15 s, and the
// connection ends once 105 s have passed without an answer from the peer, whether it was being
// probed or sent a reply (on Linux; Windows gives up after its own count of probes). A page that
// is alive acknowledges the probes in its TCP stack, so a dialogue that waits minutes on the page
// is not disturbed.
void EnableKeepAlive(SocketHandle socket) noexcept;

// Blocks until one of the sockets has input (or a hang-up or error) or timeoutMs passes (-1: no
// limit); marks the ones that do. Returns the number marked, 0 on timeout, -1 on an interrupted
// or failed wait.
struct WatchedSocket {
  SocketHandle socket = kNoSocket;
  bool ready = false;
};
int WaitForSockets(std::span<WatchedSocket> sockets, int timeoutMs);

// A wake-up that WaitForSockets can watch beside real sockets: an eventfd on Linux, a connected
// loopback socket pair on Windows. Signal from any thread; Drain on the waiting thread.
class WakeUp {
 public:
  // Throws std::runtime_error when the system cannot make one.
  WakeUp();
  ~WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;

  void Signal() noexcept;
  void Drain() noexcept;
  SocketHandle Handle() const { return read_.Get(); }

 private:
  UniqueSocket read_;
  UniqueSocket write_;
};

// The system's text for the last socket failure of this thread.
std::string LastSocketError();

// Writes to a socket whose peer has gone must fail rather than end the process (SIGPIPE on
// Linux; nothing to do on Windows).
void IgnoreBrokenPipes();

}  // namespace kelvora::platform
