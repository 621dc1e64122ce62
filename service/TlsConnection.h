// An accepted client socket with its TLS session: the Connection the rest of the service uses,
// and the byte stream under its handshake and frames.
#pragma once

#include "platform/Sockets.h"
#include "service/ByteStream.h"
#include "service/Connection.h"
#include "service/TlsContext.h"
#include "service/WebSocketMessages.h"

#include <atomic>
#include <mutex>

namespace kelvora::service {

// Where the connection stands in the WebSocket protocol; there is no way back to csHandshake.
enum class TClientState { csHandshake, csConnected };

class TlsConnection final : public Connection, public ByteStream {
 public:
  // Takes the accepted socket; the TLS session is created but not yet started.
  TlsConnection(platform::UniqueSocket socket, SSL_CTX* context);
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;

  // The connect step: the TLS server handshake, run on the connection's thread. Throws
  // EConnectionClosed when it fails (a plain-text client, an old protocol, a rejected certificate).
  void TCPServerConnect();

  // Unblocks whatever read or write is waiting on this connection and makes every later one fail.
  // Safe from any thread: deactivation uses it to end connections that are waiting for input.
  void Shutdown();

  // Ends the connection from its own thread: a TLS close_notify when the session is sound (and,
  // after a close frame, a short wait for the peer's own end), then the socket is shut down.
  // Every later read or write fails.
  void Close();

  TClientState State() const { return State_; }
  void SetState(TClientState state) { State_ = state; }

  void DecodeWebSocketFrame(std::string& DecodedMessage) override;
  void SendClientMessage(std::string_view pMsg) override;
  bool WaitForInput(std::chrono::milliseconds timeout) override;
  uint64_t Id() const override { return id_; }
  void MarkSessionStarted() override { sessionStarted_ = true; }
  // Any thread: whether a session has started on this connection.
  bool SessionStarted() const { return sessionStarted_; }

  size_t ReadSome(std::span<char> buffer) override;
  void WriteAll(std::string_view bytes) override;

 private:
  [[noreturn]] void Fail(int result, const char* operation);
  void LingerForPeer();

  platform::UniqueSocket socket_;
  SslPtr ssl_;
  const uint64_t id_;
  std::mutex IOHandlerLock;               // one frame read or one frame write at a time
  std::atomic<bool> established_{false};  // the TLS handshake succeeded
  std::atomic<bool> broken_{false};       // a read or write failed, or the connection was closed
  std::atomic<bool> sessionStarted_{false};
  TClientState State_ = TClientState::csHandshake;
  // Under IOHandlerLock: the text message being put together, and whether a close frame has been
  // sent, after which nothing more is read or written.
  ClientMessageReader reader_;
  bool closeSent_ = false;
};

}  // namespace kelvora::service
