// Socket addresses for the listener, built and read the same way on both systems.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <optional>

#include "platform/Sockets.h"

namespace kelvora::platform {

// The address a listener of the family binds: the given one, or the family's wildcard.
struct BindAddress {
  sockaddr_storage storage{};
  int length = 0;
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};
BindAddress ListenAddress(IpFamily family, const std::optional<IpAddressBytes>& address,
                          uint16_t port);

// The port of an IPv4 or IPv6 address.
uint16_t PortOf(const sockaddr_storage& address);

// An IPv4 or IPv6 address as a peer is reached: its family, its bytes (IPv4 in the first four)
// and its port. Nothing for another family or a length too short for the family.
struct PeerAddress {
  IpFamily family = IpFamily::V4;
  IpAddressBytes bytes{};
  uint16_t port = 0;
};
std::optional<PeerAddress> ReadPeerAddress(const sockaddr* address, size_t length);

}  // namespace kelvora::platform
