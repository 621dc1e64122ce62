// The TLS listener of the service: IPv4 and IPv6 wildcard listeners, one thread per accepted
// connection, and each connection's connect, execute and disconnect steps.
#pragma once

#include "platform/Sockets.h"
#include "service/MessageHandler.h"
#include "service/TlsConnection.h"
#include "service/TlsContext.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kelvora::service {

struct TServerSettings {
  uint16_t Port = 443;
  std::filesystem::path BaseDir;  // the certificate files are under BaseDir/Certificado
};

// Threads: one accept thread that blocks waiting on the listeners and a wake-up descriptor, and
// one thread per connection that blocks in its reads. Nothing runs while nothing happens.
class TServerThread {
 public:
  static constexpr int kListenBacklog = 15;

  TServerThread(TServerSettings settings, MessageHandler& handler);
  // Deactivates first, so no thread outlives the server.
  ~TServerThread();
  TServerThread(const TServerThread&) = delete;
  TServerThread& operator=(const TServerThread&) = delete;

  // Activation: builds the TLS context, binds and listens on the IPv4 wildcard address and, when
  // the system has IPv6, on the IPv6 wildcard address, then starts accepting. Throws with the
  // reason (a port in use, a certificate or key that cannot be loaded); nothing is left running.
  void Start();

  // Stops accepting (new connections are refused), ends every open connection and waits for its
  // thread, which runs the connection's disconnect step. Returns when every thread has ended.
  // Does nothing when the server is not active.
  void Deactivate();

  // The port listened on (the one chosen by the system when the settings say 0).
  uint16_t Port() const { return port_; }

 private:
  struct ConnectionSlot {
    std::shared_ptr<TlsConnection> connection;  // under connectionsLock_ once the thread runs;
                                                // freed by the thread at its end
    std::thread thread;
    bool finished = false;  // under connectionsLock_: the thread is about to end
  };

  void Listen();
  void AcceptLoop();
  void Accept(platform::SocketHandle listener);
  void RunConnection(ConnectionSlot& slot);
  void TCPServerExecute(TlsConnection& AContext);
  void ReapFinished();
  void Wake();
  bool WaitForWake(int timeoutMs);

  TServerSettings settings_;
  MessageHandler& handler_;
  uint16_t port_ = 0;
  SslCtxPtr context_;
  std::vector<platform::UniqueSocket> listeners_;
  std::optional<platform::WakeUp> wake_;  // a stop request
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex connectionsLock_;
  std::list<ConnectionSlot> connections_;  // a list, so a slot stays put while its thread runs
};

}  // namespace kelvora::service
