// The reference peer of the load benchmarks: a minimal TLS 1.2 WebSocket echo server on
// Boost.Beast, built the way the service is (one thread per connection, blocking reads, the same
// certificate files, TCP_NODELAY), so that the load tool's ratios compare like with like.
//
//   bench_peer --port N --base-dir DIR     (certificates from DIR/Certificado; port 0: any free)
//
// It prints "listening on port N" once it accepts connections, and runs until killed.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

namespace kelvora::bench {
namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

// The service's TLS settings: TLS 1.2 only, its certificate chain and key, no client certificates.
ssl::context ServerContext(const std::filesystem::path& baseDir) {
  const std::filesystem::path dir = baseDir / "Certificado";
  ssl::context context(ssl::context::tls_server);
  SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context.native_handle(), TLS1_2_VERSION);
  context.use_certificate_chain_file((dir / "server_cert.pem").string());
  context.use_private_key_file((dir / "server_key.pem").string(), ssl::context::pem);
  context.load_verify_file((dir / "ca_cert.pem").string());
  context.set_verify_mode(ssl::verify_none);
  return context;
}

// One connection on its own thread: TLS handshake, WebSocket handshake, then every message echoed
// back with its own type until the client closes or the connection fails.
void Serve(tcp::socket socket, ssl::context& context) {
  try {
    websocket::stream<beast::ssl_stream<tcp::socket>> ws(std::move(socket), context);
    ws.next_layer().handshake(ssl::stream_base::server);
    ws.accept();
    beast::flat_buffer buffer;
    for (;;) {
      ws.read(buffer);
      ws.text(ws.got_text());
      ws.write(buffer.data());
      buffer.consume(buffer.size());
    }
  } catch (const std::exception&) {
    // The client went away (a close frame, EOF or a reset): the connection ends here.
  }
}

// Reads "--port N --base-dir DIR"; exits with a usage line on anything else.
void ParseArguments(int argc, char** argv, unsigned short& port, std::filesystem::path& baseDir) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    if (name == "--port") {
      port = static_cast<unsigned short>(std::strtoul(argv[i + 1], nullptr, 10));
    } else if (name == "--base-dir") {
      baseDir = argv[i + 1];
    } else {
      break;
    }
  }
  if (argc != 5 || baseDir.empty()) {
    std::cerr << "usage: bench_peer --port N --base-dir DIR\n";
    std::exit(2);
  }
}

}  // namespace
}  // namespace kelvora::bench

int main(int argc, char** argv) {
  using namespace kelvora::bench;
  unsigned short port = 0;
  std::filesystem::path baseDir;
  ParseArguments(argc, argv, port, baseDir);
  std::signal(SIGPIPE, SIG_IGN);
  try {
    net::io_context ioc;
    ssl::context context = ServerContext(baseDir);
    tcp::acceptor acceptor(ioc, tcp::endpoint(net::ip::address_v4::any(), port));
    std::cout << "listening on port " << acceptor.local_endpoint().port() << std::endl;
    for (;;) {
      tcp::socket socket(ioc);
      acceptor.accept(socket);
      socket.set_option(tcp::no_delay(true));
      std::thread(Serve, std::move(socket), std::ref(context)).detach();
    }
  } catch (const std::exception& e) {
    std::cerr << "bench_peer: " << e.what() << "\n";
    return 1;
  }
}
