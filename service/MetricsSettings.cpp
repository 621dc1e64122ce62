// Reading [metrics] listen and token.
#include "service/MetricsSettings.h"

#include <algorithm>
#include <charconv>

#include "service/OriginPolicy.h"
#include "service/ServerSettings.h"

namespace kelvora::service {
namespace {

// "ADDRESS:PORT" into its address and port; an IPv6 address must be in brackets, so that its
// colons are not read as the port's.
std::optional<metrics::TEndpointSettings> ParseEndpoint(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  const bool bracketed = host.starts_with('[') && host.ends_with(']');
  if (!bracketed && host.find(':') != std::string_view::npos) return std::nullopt;
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() || number > 65535) {
    return std::nullopt;
  }
  const std::optional<TListenAddress> address = ParseListenAddress(host);
  if (!address) return std::nullopt;
  metrics::TEndpointSettings settings;
  settings.Ipv6 = !address->IsIpv4();
  settings.Address = address->Bytes;
  settings.AddressText = std::string(text);
  settings.Port = static_cast<uint16_t>(number);
  return settings;
}

}  // namespace

bool IsLoopback(const metrics::TEndpointSettings& settings) {
  if (!settings.Ipv6) return settings.Address[0] == 127;
  return std::all_of(settings.Address.begin(), settings.Address.end() - 1,
                     [](uint8_t byte) { return byte == 0; }) &&
         settings.Address.back() == 1;
}

std::optional<metrics::TEndpointSettings> ReadMetricsSettings(const platform::TIniFile& config,
                                                              std::string& refusal) {
  refusal.clear();
  const std::string listen = config.ReadString("metrics", "listen", "");
  if (listen.empty()) return std::nullopt;
  std::optional<metrics::TEndpointSettings> settings = ParseEndpoint(listen);
  if (!settings) {
    refusal = "Endereço inválido em [metrics] listen: " + EscapeForLog(listen);
    return std::nullopt;
  }
  settings->Token = config.ReadString("metrics", "token", "");
  if (!settings->Token.empty() && settings->Token.size() < kMinMetricsTokenLength) {
    refusal = "[metrics] token com menos de " + std::to_string(kMinMetricsTokenLength) +
              " caracteres: métricas não iniciadas.";
    return std::nullopt;
  }
  if (!IsLoopback(*settings) && settings->Token.empty()) {
    refusal = "[metrics] listen=" + EscapeForLog(listen) +
              " fora do loopback exige [metrics] token: métricas não iniciadas.";
    return std::nullopt;
  }
  return settings;
}

}  // namespace kelvora::service
