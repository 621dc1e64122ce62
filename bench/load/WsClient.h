// The load tool's TLS WebSocket client, on Boost.Beast: one blocking connection to a server on the
// loopback address, the same code for the service and for the reference peer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kelvora::bench {

// What every connection of one run shares, as a browser shares it: the I/O context and the TLS
// client settings (TLS 1.2, no certificate check, no session resumption).
class TClientContext {
 public:
  TClientContext();
  ~TClientContext();
  TClientContext(const TClientContext&) = delete;
  TClientContext& operator=(const TClientContext&) = delete;

  struct Impl;
  Impl& Get() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

class TWsClient {
 public:
  explicit TWsClient(TClientContext& context);
  ~TWsClient();
  TWsClient(const TWsClient&) = delete;
  TWsClient& operator=(const TWsClient&) = delete;

  // TCP connect to 127.0.0.1:port with TCP_NODELAY, the TLS handshake, then the WebSocket opening
  // handshake. Throws std::exception with the reason on any failure.
  void Connect(uint16_t port);

  // One masked text frame.
  void Send(std::string_view text);

  // The next whole message from the server.
  std::string Receive();

  // Ends the connection from the client's side as a page does when it is closed: a close frame,
  // then the end of the client's sending direction; returns once the server has closed its side
  // too, so the server's teardown is part of what is timed.
  void Close();

  // The TLS version and cipher suite negotiated, to show both servers were met on equal terms.
  std::string Cipher();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvora::bench
