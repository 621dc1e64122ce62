// The TLS listener of the service: listeners on the configured or wildcard addresses, one thread
// per accepted connection, each connection's connect, execute and disconnect steps, and the limits
// that keep peers without credentials from exhausting it.
#pragma once

#include "platform/Sockets.h"
#include "service/MessageHandler.h"
#include "service/ServerSettings.h"
#include "service/TlsConnection.h"
#include "service/TlsContext.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kelvora::service {

// Threads: one accept thread that waits on the listeners and a wake-up, and
// one thread per connection that blocks in its reads. Nothing runs while nothing happens: the
// accept thread's wait also times out at the earliest handshake or session deadline, and not
// otherwise.
class TServerThread {
 public:
  static constexpr int kListenBacklog = 15;

  TServerThread(TServerSettings settings, MessageHandler& handler);
  // Deactivates first, so no thread outlives the server.
  ~TServerThread();
  TServerThread(const TServerThread&) = delete;
  TServerThread& operator=(const TServerThread&) = delete;

  // Activation: builds the TLS context, binds and listens on every configured address (by default
  // the IPv4 wildcard address and, when the system has IPv6, the IPv6 wildcard address), then
  // starts accepting. Throws with the reason (a port in use, an address that cannot be parsed or
  // bound, a certificate or key that cannot be loaded); nothing is left running.
  void Start();

  // Stops accepting (new connections are refused), ends every open connection and waits for its
  // thread, which runs the connection's disconnect step. Returns when every thread has ended.
  // Does nothing when the server is not active.
  void Deactivate();

  // The port listened on (the one chosen by the system when the settings say 0).
  uint16_t Port() const { return port_; }

  // Connections open now, in their handshakes or upgraded; any thread.
  size_t OpenConnections();

 private:
  using Clock = std::chrono::steady_clock;

  struct ConnectionSlot {
    std::shared_ptr<TlsConnection> connection;  // under connectionsLock_ once the thread runs;
                                                // freed by the thread at its end
    std::thread thread;
    // For the TLS and WebSocket handshakes; once they are done, for the first session start.
    Clock::time_point deadline;
    // Under connectionsLock_: both handshakes are done; the server shut the connection down (its
    // deadline passed, or it made room for a newer one); the thread is about to end.
    bool upgraded = false;
    bool closing = false;
    bool finished = false;
    // Still in its handshakes, and not yet being closed: what a deadline or the limit may end.
    bool Pending() const { return !upgraded && !closing && !finished; }
    // Upgraded but no session started on it yet, and not being closed: what a deadline or the
    // limit may end once no connection is pending.
    bool Idle() const {
      return upgraded && !closing && !finished && !connection->SessionStarted();
    }
  };

  void Listen();
  void AcceptLoop();
  void Accept(platform::SocketHandle listener);
  bool MakeRoom();
  void RunConnection(ConnectionSlot& slot);
  void TCPServerExecute(TlsConnection& AContext);
  void ReapFinished();
  int ExpireDeadlines();
  void LogLimit(std::optional<Clock::time_point>& last, std::string_view text);
  void Log(std::string_view text) const;
  void Wake();
  bool WaitForWake(int timeoutMs);

  TServerSettings settings_;
  MessageHandler& handler_;
  uint16_t port_ = 0;
  SslCtxPtr context_;
  std::vector<platform::UniqueSocket> listeners_;
  std::unique_ptr<platform::WakeUp> wake_;  // a stop request
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex connectionsLock_;
  std::list<ConnectionSlot> connections_;  // a list, so a slot stays put while its thread runs;
                                           // in accept order, so the oldest come first
  // When the limit and the session deadline were last logged, for each of their lines; accept
  // thread only.
  std::optional<Clock::time_point> lastEvictionLog_;
  std::optional<Clock::time_point> lastIdleEvictionLog_;
  std::optional<Clock::time_point> lastRefusalLog_;
  std::optional<Clock::time_point> lastIdleExpiryLog_;
};

}  // namespace kelvora::service
