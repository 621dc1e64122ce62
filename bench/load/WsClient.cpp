// The Beast client behind TWsClient: a websocket stream over an SSL stream over a TCP socket.
#include "WsClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <array>
#include <optional>

namespace kelvora::bench {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

struct TClientContext::Impl {
  Impl() : tls(ssl::context::tls_client) {
    SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(tls.native_handle(), TLS1_2_VERSION);
    // Every connection makes a full handshake, the costly case a server must be ready for.
    SSL_CTX_set_session_cache_mode(tls.native_handle(), SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(tls.native_handle(), SSL_OP_NO_TICKET);
    tls.set_verify_mode(ssl::verify_none);
  }
  net::io_context io;
  ssl::context tls;
};

TClientContext::TClientContext() : impl_(std::make_unique<Impl>()) {}
TClientContext::~TClientContext() = default;

struct TWsClient::Impl {
  explicit Impl(TClientContext::Impl& context) : ws(context.io, context.tls) {}
  websocket::stream<beast::ssl_stream<tcp::socket>> ws;
  beast::flat_buffer buffer;
};

TWsClient::TWsClient(TClientContext& context) : impl_(std::make_unique<Impl>(context.Get())) {}
TWsClient::~TWsClient() = default;

void TWsClient::Connect(uint16_t port) {
  tcp::socket& socket = beast::get_lowest_layer(impl_->ws);
  socket.connect(tcp::endpoint(net::ip::address_v4::loopback(), port));
  socket.set_option(tcp::no_delay(true));
  impl_->ws.next_layer().handshake(ssl::stream_base::client);
  impl_->ws.handshake("localhost:" + std::to_string(port), "/");
  impl_->ws.text(true);
}

void TWsClient::Send(std::string_view text) {
  impl_->ws.write(net::buffer(text.data(), text.size()));
}

std::string TWsClient::Receive() {
  impl_->buffer.clear();
  impl_->ws.read(impl_->buffer);
  return beast::buffers_to_string(impl_->buffer.data());
}

void TWsClient::Close() {
  // A close frame with no payload, masked as client frames must be.
  static constexpr std::array<unsigned char, 6> kCloseFrame{0x88, 0x80, 0x1B, 0x2C, 0x3D, 0x4E};
  auto& tls = impl_->ws.next_layer();
  net::write(tls, net::buffer(kCloseFrame));
  beast::get_lowest_layer(impl_->ws).shutdown(tcp::socket::shutdown_send);
  std::array<char, 512> discard{};
  beast::error_code ended;
  while (!ended) tls.read_some(net::buffer(discard), ended);
  beast::get_lowest_layer(impl_->ws).close(ended);
}

std::string TWsClient::Cipher() {
  SSL* session = impl_->ws.next_layer().native_handle();
  return std::string(SSL_get_version(session)) + " " + SSL_get_cipher_name(session);
}

}  // namespace kelvora::bench
