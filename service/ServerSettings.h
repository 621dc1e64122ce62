// The listener's settings: the port and base directory from the command line, and the addresses,
// connection limit, oldest TLS version and allowed origins from the configuration file.
#pragma once

#include "platform/IniFile.h"
#include "service/OriginPolicy.h"
#include "service/TlsContext.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::service {

// A service log line writer; the listener reports through it what a peer was refused.
using TLogLine = std::function<void(std::string_view)>;

struct TServerSettings {
  uint16_t Port = 443;
  std::filesystem::path BaseDir;  // the certificate files are under BaseDir/Certificado
  // [server] listen: numeric addresses, IPv4 or IPv6 (brackets allowed). Empty: the IPv4 wildcard
  // address and, when the system has IPv6, the IPv6 wildcard address.
  std::vector<std::string> ListenAddresses;
  // [server] max_connections: open connections beyond it are closed at once, after the oldest one
  // still in its handshakes, or else the oldest one without a session, has been closed to make
  // room.
  size_t MaxConnections = 64;
  // The TLS and WebSocket handshakes of a connection must both be done this long after its accept.
  std::chrono::milliseconds HandshakeDeadline{10000};
  // A connection must have started a session this long after its WebSocket handshake.
  std::chrono::milliseconds SessionDeadline{30000};
  // [server] tls_min_version: "1.2" (the default) or "1.3".
  TTlsMinVersion TlsMinVersion = TTlsMinVersion::Tls12;
  // [security] allowed_origins.
  TOriginPolicy Origins;
  TLogLine Log;  // may be empty
};

inline constexpr int32_t kDefaultMaxConnections = 64;

// The settings for port and baseDir with those of the configuration file, read now. An item of
// allowed_origins that is no origin is reported through log and allows nothing; a max_connections
// below 1 or not an integer gives the default; a tls_min_version other than 1.2 or 1.3 is reported
// through log and gives 1.2.
TServerSettings ReadServerSettings(const platform::TIniFile& config, uint16_t port,
                                   std::filesystem::path baseDir, TLogLine log);

// A numeric listen address: an IPv4 address in dotted form, or an IPv6 address, bare or in
// brackets. Names are not resolved.
struct TListenAddress {
  int Family = 0;                   // AF_INET or AF_INET6
  std::array<uint8_t, 16> Bytes{};  // network order; 4 bytes for IPv4
  bool IsIpv4() const;
};
std::optional<TListenAddress> ParseListenAddress(std::string_view text);

}  // namespace kelvora::service
