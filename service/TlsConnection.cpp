// Blocking TLS reads and writes on one client socket, with the per-connection frame lock.
#include "service/TlsConnection.h"

#include "service/WebSocketFrame.h"

#include <openssl/err.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kelvora::service {
namespace {

std::atomic<uint64_t> nextConnectionId{1};

// SSL_get_error reads the thread's error queue, which must be empty before each TLS call. Clearing
// it walks every slot of the queue, so it is done only when something (this connection or another
// library on the thread, such as the HTTP client) has left an error there.
void ClearErrorQueue() {
  if (ERR_peek_error() != 0) ERR_clear_error();
}

}  // namespace

TlsConnection::TlsConnection(platform::UniqueSocket socket, SSL_CTX* context)
    : socket_(std::move(socket)), ssl_(SSL_new(context)), id_(nextConnectionId++) {
  if (!ssl_ || SSL_set_fd(ssl_.get(), static_cast<int>(socket_.Get())) != 1) {
    throw ETlsError("Could not create the TLS session: " + TakeOpenSslErrors());
  }
}

// Turns a failed TLS call into EConnectionClosed: a clean end (close_notify or EOF) reads
// "Connection Closed Gracefully.", anything else carries OpenSSL's or the system's reason. The
// connection is marked broken, as OpenSSL allows no further I/O after a fatal error.
void TlsConnection::Fail(int result, const char* operation) {
  const int savedErrno = errno;
  const int error = SSL_get_error(ssl_.get(), result);
  const std::string reason = TakeOpenSslErrors();
  broken_ = true;
  if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && reason.empty())) {
    const bool eof = error == SSL_ERROR_ZERO_RETURN || savedErrno == 0;
    throw EConnectionClosed(eof ? std::string("Connection Closed Gracefully.")
                                : std::string(operation) + ": " + std::strerror(savedErrno));
  }
  throw EConnectionClosed(std::string(operation) + " failed" +
                          (reason.empty() ? std::string() : ": " + reason));
}

void TlsConnection::TCPServerConnect() {
  ERR_clear_error();
  const int result = SSL_accept(ssl_.get());
  if (result != 1) Fail(result, "TLS handshake");
  established_ = true;
}

void TlsConnection::Shutdown() {
  broken_ = true;
  platform::ShutdownSocket(socket_.Get());
}

void TlsConnection::Close() {
  const std::lock_guard lock(IOHandlerLock);
  if (established_ && !broken_) {
    ERR_clear_error();
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
    if (closeSent_) LingerForPeer();
  }
  broken_ = true;
  platform::ShutdownSocket(socket_.Get());
}

// A socket closed with bytes of the peer still unread (the rest of a refused frame) is answered
// by the system with a reset, which may throw away the close frame before the peer reads it. So
// after a close frame the sending side is shut, and what the peer still sends is read and dropped
// until it closes too: at most a second and 4 MiB, and a stop's Shutdown ends it at once.
void TlsConnection::LingerForPeer() {
  constexpr auto kLinger = std::chrono::seconds(1);
  constexpr size_t kMaxDiscarded = size_t{4} << 20;
  platform::ShutdownSending(socket_.Get());
  const auto deadline = std::chrono::steady_clock::now() + kLinger;
  size_t discarded = 0;
  while (discarded < kMaxDiscarded) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    platform::WatchedSocket watched{socket_.Get()};
    if (platform::WaitForSockets({&watched, 1}, static_cast<int>(left.count())) <= 0) return;
    const size_t got = platform::DiscardInput(socket_.Get());
    if (got == 0) return;
    discarded += got;
  }
}

size_t TlsConnection::ReadSome(std::span<char> buffer) {
  if (broken_) throw EConnectionClosed("Connection closed.");
  ClearErrorQueue();
  size_t got = 0;
  const int result = SSL_read_ex(ssl_.get(), buffer.data(), buffer.size(), &got);
  if (result != 1 || got == 0) Fail(result, "TLS read");
  return got;
}

void TlsConnection::WriteAll(std::string_view bytes) {
  while (!bytes.empty()) {
    if (broken_) throw EConnectionClosed("Connection closed.");
    ClearErrorQueue();
    size_t written = 0;
    const int result = SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written);
    if (result != 1) Fail(result, "TLS write");
    bytes.remove_prefix(written);
  }
}

void TlsConnection::DecodeWebSocketFrame(std::string& DecodedMessage) {
  DecodedMessage.clear();
  const std::lock_guard lock(IOHandlerLock);
  if (closeSent_) throw EConnectionClosed("WebSocket closed.");
  try {
    DecodedMessage = reader_.ReadFrame(*this);
  } catch (const EWebSocketClosed&) {
    closeSent_ = true;
    throw;
  }
}

void TlsConnection::SendClientMessage(std::string_view pMsg) {
  const std::string frame = EncodeTextFrame(pMsg);
  const std::lock_guard lock(IOHandlerLock);
  // No frame may follow the close frame.
  if (closeSent_) throw EConnectionClosed("WebSocket closed.");
  WriteAll(frame);
}

bool TlsConnection::WaitForInput(std::chrono::milliseconds timeout) {
  {
    const std::lock_guard lock(IOHandlerLock);
    if (broken_ || SSL_has_pending(ssl_.get()) == 1) return true;
  }
  platform::WatchedSocket watched{socket_.Get()};
  int ready = 0;
  do {
    ready = platform::WaitForSockets({&watched, 1}, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

}  // namespace kelvora::service
