// Reading the listener's settings from the configuration file.
#include "service/ServerSettings.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

#include <cstring>

namespace kelvora::service {

TServerSettings ReadServerSettings(const platform::TIniFile& config, uint16_t port,
                                   std::filesystem::path baseDir, TLogLine log) {
  TServerSettings settings;
  settings.Port = port;
  settings.BaseDir = std::move(baseDir);
  settings.ListenAddresses = SplitSettingList(config.ReadString("server", "listen", ""));
  const int32_t maxConnections =
      config.ReadInteger("server", "max_connections", kDefaultMaxConnections);
  settings.MaxConnections =
      static_cast<size_t>(maxConnections >= 1 ? maxConnections : kDefaultMaxConnections);
  const std::string tlsMinVersion = config.ReadString("server", "tls_min_version", "1.2");
  if (tlsMinVersion == "1.3") {
    settings.TlsMinVersion = TTlsMinVersion::Tls13;
  } else if (!tlsMinVersion.empty() && tlsMinVersion != "1.2" && log) {
    log("Valor inválido em [server] tls_min_version ignorado (TLS 1.2 e 1.3 aceitos): " +
        EscapeForLog(tlsMinVersion));
  }
  std::vector<std::string> invalid;
  settings.Origins =
      TOriginPolicy::FromSetting(config.ReadString("security", "allowed_origins", ""), invalid);
  if (log) {
    for (const std::string& item : invalid) {
      log("Origem inválida em [security] allowed_origins ignorada: " + EscapeForLog(item));
    }
  }
  settings.Log = std::move(log);
  return settings;
}

bool TListenAddress::IsIpv4() const {
  return Family == AF_INET;
}

std::optional<TListenAddress> ParseListenAddress(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  const std::string address(text);
  TListenAddress parsed;
  if (inet_pton(AF_INET, address.c_str(), parsed.Bytes.data()) == 1) {
    parsed.Family = AF_INET;
  } else if (inet_pton(AF_INET6, address.c_str(), parsed.Bytes.data()) == 1) {
    parsed.Family = AF_INET6;
  } else {
    return std::nullopt;
  }
  return parsed;
}

}  // namespace kelvora::service
