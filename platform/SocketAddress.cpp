// Listener addresses from the address bytes the settings give, in network order.
#include "platform/SocketAddress.h"

#include <cstring>

namespace kelvora::platform {

BindAddress ListenAddress(IpFamily family, const std::optional<IpAddressBytes>& address,
                          uint16_t port) {
  BindAddress bind;
  if (family == IpFamily::V4) {
    auto& ipv4 = reinterpret_cast<sockaddr_in&>(bind.storage);
    ipv4.sin_family = AF_INET;
    if (address) {
      std::memcpy(&ipv4.sin_addr, address->data(), sizeof ipv4.sin_addr);
    } else {
      ipv4.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    ipv4.sin_port = htons(port);
    bind.length = sizeof ipv4;
  } else {
    auto& ipv6 = reinterpret_cast<sockaddr_in6&>(bind.storage);
    ipv6.sin6_family = AF_INET6;
    if (address) {
      std::memcpy(&ipv6.sin6_addr, address->data(), sizeof ipv6.sin6_addr);
    } else {
      ipv6.sin6_addr = in6addr_any;
    }
    ipv6.sin6_port = htons(port);
    bind.length = sizeof ipv6;
  }
  return bind;
}

std::optional<PeerAddress> ReadPeerAddress(const sockaddr* address, size_t length) {
  if (address == nullptr) return std::nullopt;
  PeerAddress peer;
  if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    const auto& v4 = *reinterpret_cast<const sockaddr_in*>(address);
    std::memcpy(peer.bytes.data(), &v4.sin_addr, 4);
    peer.port = ntohs(v4.sin_port);
    return peer;
  }
  if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    const auto& v6 = *reinterpret_cast<const sockaddr_in6*>(address);
    peer.family = IpFamily::V6;
    std::memcpy(peer.bytes.data(), &v6.sin6_addr, 16);
    peer.port = ntohs(v6.sin6_port);
    return peer;
  }
  return std::nullopt;
}

uint16_t PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

}  // namespace kelvora::platform
