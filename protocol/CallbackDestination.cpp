// The addresses and hosts a sales report may go to.
#include "protocol/CallbackDestination.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>

#include "protocol/CurlUrl.h"
#include "service/MetricsSettings.h"
#include "service/ServerSettings.h"

namespace kelvora::protocol {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

struct TUrlParts {
  std::string Scheme;
  std::string Host;  // as the parser normalised it; IPv6 without brackets
  uint16_t Port = 0;
};

std::optional<TUrlParts> ParseUrl(std::string_view url) {
  CurlUrl parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, std::string(url).c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  const auto part = [&parsed](CURLUPart which, unsigned flags) -> std::optional<std::string> {
    char* raw = nullptr;
    if (curl_url_get(parsed.get(), which, &raw, flags) != CURLUE_OK) return std::nullopt;
    const CurlText text(raw);
    return std::string(text.get());
  };
  TUrlParts parts;
  const std::optional<std::string> scheme = part(CURLUPART_SCHEME, 0);
  const std::optional<std::string> host = part(CURLUPART_HOST, 0);
  const std::optional<std::string> port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return std::nullopt;
  parts.Scheme = Lower(*scheme);
  parts.Host = Lower(*host);
  if (parts.Host.size() > 2 && parts.Host.front() == '[' && parts.Host.back() == ']') {
    parts.Host = parts.Host.substr(1, parts.Host.size() - 2);
  }
  // A zone ("fe80::1%25lo") is no part of the address.
  if (const size_t zone = parts.Host.find('%'); zone != std::string::npos) {
    parts.Host.resize(zone);
  }
  parts.Port = static_cast<uint16_t>(std::atoi(port->c_str()));
  return parts;
}

// A numeric address (as written in a URL or reported by libcurl), reached at port; none for a name.
std::optional<platform::PeerAddress> NumericPeer(std::string_view text, uint16_t port) {
  const std::optional<service::TListenAddress> address = service::ParseListenAddress(text);
  if (!address) return std::nullopt;
  platform::PeerAddress peer;
  peer.family = address->IsIpv4() ? platform::IpFamily::V4 : platform::IpFamily::V6;
  peer.bytes = address->Bytes;
  peer.port = port;
  return peer;
}

bool IsLoopback(const platform::PeerAddress& peer) {
  if (peer.family == platform::IpFamily::V4) return peer.bytes[0] == 127;
  return std::all_of(peer.bytes.begin(), peer.bytes.end() - 1, [](uint8_t b) { return b == 0; }) &&
         peer.bytes[15] == 1;
}

// An IPv4 address written in IPv6 (::ffff:a.b.c.d) is judged as the IPv4 address it is.
platform::PeerAddress Unmapped(const platform::PeerAddress& peer) {
  if (peer.family != platform::IpFamily::V6) return peer;
  const bool mapped =
      std::all_of(peer.bytes.begin(), peer.bytes.begin() + 10, [](uint8_t b) { return b == 0; }) &&
      peer.bytes[10] == 0xff && peer.bytes[11] == 0xff;
  if (!mapped) return peer;
  platform::PeerAddress v4;
  std::copy(peer.bytes.begin() + 12, peer.bytes.end(), v4.bytes.begin());
  v4.port = peer.port;
  return v4;
}

}  // namespace

TDestinationPolicy ReadDestinationPolicy(const platform::TIniFile& config, uint16_t servicePort) {
  TDestinationPolicy policy;
  const std::string hosts = config.ReadString("sales_api", "allowed_hosts", "");
  size_t start = 0;
  while (start < hosts.size()) {
    const size_t end = hosts.find_first_of(", \t", start);
    const std::string host = Lower(hosts.substr(start, end - start));
    if (!host.empty()) policy.AllowedHosts.push_back(host);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  policy.OwnPorts.push_back(servicePort);
  std::string refusal;
  if (const auto metrics = service::ReadMetricsSettings(config, refusal)) {
    policy.OwnPorts.push_back(metrics->Port);
  }
  return policy;
}

std::string RefusedPeer(const platform::PeerAddress& original, const TDestinationPolicy& policy) {
  const platform::PeerAddress peer = Unmapped(original);
  const auto& b = peer.bytes;
  if (peer.family == platform::IpFamily::V4) {
    if (b[0] == 0) return "endereço não especificado";
    if (b[0] == 169 && b[1] == 254) return "endereço de enlace local";
    if (b[0] >= 224) return "endereço de multicast, de broadcast ou reservado";
  } else {
    if (std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == 0; })) {
      return "endereço não especificado";
    }
    if (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) return "endereço de enlace local";
    if (b[0] == 0xff) return "endereço de multicast";
  }
  if (IsLoopback(peer) && std::find(policy.OwnPorts.begin(), policy.OwnPorts.end(), peer.port) !=
                              policy.OwnPorts.end()) {
    return "porta do próprio serviço";
  }
  return {};
}

std::string RefusedCallbackHost(std::string_view url, const TDestinationPolicy& policy) {
  const std::optional<TUrlParts> parts = ParseUrl(url);
  if (!parts) return "endereço inválido";
  if (!policy.AllowedHosts.empty() &&
      std::find(policy.AllowedHosts.begin(), policy.AllowedHosts.end(), parts->Host) ==
          policy.AllowedHosts.end()) {
    return "servidor fora de [sales_api] allowed_hosts";
  }
  const std::optional<platform::PeerAddress> literal = NumericPeer(parts->Host, parts->Port);
  if (!literal) return {};  // a name: judged on the address it resolves to
  return RefusedPeer(*literal, policy);
}

std::string RefusedConnection(std::string_view url, std::string_view address, uint16_t port,
                              const TDestinationPolicy& policy) {
  if (!url.empty()) {
    if (std::string refusal = RefusedCallbackHost(url, policy); !refusal.empty()) return refusal;
  }
  const std::optional<platform::PeerAddress> peer = NumericPeer(address, port);
  return peer ? RefusedPeer(*peer, policy) : "endereço desconhecido";
}

bool IsPlainHttpOffLoopback(std::string_view url) {
  const std::optional<TUrlParts> parts = ParseUrl(url);
  if (!parts || parts->Scheme != "http") return false;
  if (parts->Host == "localhost") return false;
  const std::optional<platform::PeerAddress> literal = NumericPeer(parts->Host, parts->Port);
  return !literal || !IsLoopback(Unmapped(*literal));
}

}  // namespace kelvora::protocol
