// [metrics] of the configuration file: where the /metrics and /health endpoint listens and the
// bearer token it asks for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "metrics/Telemetry.h"
#include "platform/IniFile.h"

namespace kelvora::service {

// A token shorter than this is refused: it would be guessed.
inline constexpr size_t kMinMetricsTokenLength = 16;

// The endpoint's settings, or none (with the reason in refusal when [metrics] listen is set but
// cannot be used): "listen" is ADDRESS:PORT, an IPv4 address or an IPv6 one in brackets
// ("127.0.0.1:9464", "[::1]:9464"). An address outside the loopback network needs a "token" of
// at least kMinMetricsTokenLength characters, since the endpoint speaks plain HTTP. No "listen":
// no endpoint, and no refusal.
std::optional<metrics::TEndpointSettings> ReadMetricsSettings(const platform::TIniFile& config,
                                                              std::string& refusal);

// Whether a parsed endpoint address is on the loopback network (127.0.0.0/8 or ::1).
bool IsLoopback(const metrics::TEndpointSettings& settings);

}  // namespace kelvora::service
