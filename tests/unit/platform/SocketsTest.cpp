// Shutting a socket down from another thread: what a pause or stop of the listener relies on to
// end connections whose pages are silent.
#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace kelvora::platform {
namespace {

constexpr IpAddressBytes kLoopback{127, 0, 0, 1};

#ifdef _WIN32
// Winsock needs starting once per process; the service host does it in the service.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockSession() { ::WSACleanup(); }
};
#else
struct WinsockSession {};
#endif

// A client connected to the loopback listener on port.
UniqueSocket ConnectLoopback(uint16_t port) {
  UniqueSocket client(static_cast<SocketHandle>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  std::memcpy(&address.sin_addr, kLoopback.data(), 4);
  address.sin_port = htons(port);
  EXPECT_EQ(::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
            0);
  return client;
}

// One read on the accepted socket: what a connection thread blocks in while its page is idle.
long ReadOnce(SocketHandle socket) {
  std::array<char, 16> buffer{};
  return static_cast<long>(::recv(socket, buffer.data(), static_cast<int>(buffer.size()), 0));
}

TEST(ShutdownSocket, EndsReadsBlockedInOtherThreadsWhilePeerStaysSilent) {
  [[maybe_unused]] const WinsockSession winsock;
  UniqueSocket listener = ListenOn(IpFamily::V4, kLoopback, "test", 0, 4);
  UniqueSocket client = ConnectLoopback(LocalPort(listener.Get()));
  WatchedSocket waiting{listener.Get()};
  ASSERT_EQ(WaitForSockets({&waiting, 1}, -1), 1);
  bool shortage = false;
  UniqueSocket accepted = AcceptClient(listener.Get(), shortage);
  ASSERT_TRUE(accepted);

  // The reader blocks for good unless the shutdown ends its read: the client never sends nor
  // closes, and the test never reads what the shutdown sent it.
  long result = 1;
  std::thread reader([&] { result = ReadOnce(accepted.Get()); });
  // Given time to reach its read first; should it not, its read fails at once after the shutdown
  // and the test still holds.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ShutdownSocket(accepted.Get());
  reader.join();
  EXPECT_LE(result, 0);
  // And every later read fails at once too.
  EXPECT_LE(ReadOnce(accepted.Get()), 0);
}

}  // namespace
}  // namespace kelvora::platform
