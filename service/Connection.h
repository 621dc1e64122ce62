// One client's WebSocket connection as the rest of the service sees it: its own frame reads and
// writes, its input probe and its identity. Every reply travels on the connection whose request
// caused it, so two clients never see each other's messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora::service {

// The server owns each connection; it stays valid until the handler's OnDisconnect for it has
// returned, so nothing may keep a reference to it beyond that.
class Connection {
 public:
  virtual ~Connection() = default;

  // Reads one frame and returns in DecodedMessage the text of the message it completes (empty
  // for a fragment before the last, a ping or a pong, and an empty text: nothing to route); a
  // ping is answered with a pong. Blocks until a frame arrives, holding this connection's frame
  // lock from before the first byte is awaited until after the last, so no frame is written on
  // this connection meanwhile. Throws when the connection is closed or fails, and after answering
  // a close frame or closing the WebSocket over a frame it does not take (binary, not UTF-8, over
  // the accepted size, against the protocol); the connection then ends.
  virtual void DecodeWebSocketFrame(std::string& DecodedMessage) = 0;

  // Writes pMsg (UTF-8) as one text frame, whole, under this connection's frame lock; safe to
  // call from any thread. Throws when the connection is closed or fails.
  virtual void SendClientMessage(std::string_view pMsg) = 0;

  // Waits up to timeout for input and tells whether some is there to read: bytes already buffered
  // by the TLS layer, or readable on the socket. Blocks without spinning. Also true when the peer
  // has closed, so that the next read reports it.
  virtual bool WaitForInput(std::chrono::milliseconds timeout) = 0;

  // A number unique within the process, for logs and for telling connections apart.
  virtual uint64_t Id() const = 0;

  // Called once a session has started on this connection. From then on the listener keeps it open
  // however long it idles (a till's page waits for hours between sales) and never closes it to
  // make room; a connection that starts none is closed soon after its upgrade.
  virtual void MarkSessionStarted() {}
};

}  // namespace kelvora::service
