// Where the service may send a sales report: a token names the address, so a forged or careless
// one must not turn the till into a client of the cloud's metadata service, a link-local device or
// the service's own endpoints. Checked when a session starts and again on the address a report
// actually connects to (after name resolution and redirects).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"
#include "platform/SocketAddress.h"

namespace kelvora::protocol {

struct TDestinationPolicy {
  // [sales_api] allowed_hosts, in lower case: when set, reports go to these hosts only (names or
  // addresses, as the callback address writes them).
  std::vector<std::string> AllowedHosts;
  // The ports this service listens on (pages, metrics), refused on this machine's loopback.
  std::vector<uint16_t> OwnPorts;
};

// The policy in force: [sales_api] allowed_hosts (commas or blanks between hosts), the service's
// port and the metrics endpoint's, read now.
TDestinationPolicy ReadDestinationPolicy(const platform::TIniFile& config, uint16_t servicePort);

// Why a report may not be sent to this peer (an unspecified, link-local, multicast or broadcast
// address, or one of the service's own ports on the loopback); empty when it may.
std::string RefusedPeer(const platform::PeerAddress& peer, const TDestinationPolicy& policy);

// Why a callback address may not receive reports: a host outside allowed_hosts, or a literal
// address RefusedPeer refuses (with the address's port, or its scheme's); empty when it may.
std::string RefusedCallbackHost(std::string_view url, const TDestinationPolicy& policy);

// Why a request to url may not go on over the connection libcurl made to address (numeric, as
// it reports it) and port: the host checks of RefusedCallbackHost on the address now requested (a
// redirect may have led elsewhere), then RefusedPeer on the address reached; empty when it may.
std::string RefusedConnection(std::string_view url, std::string_view address, uint16_t port,
                              const TDestinationPolicy& policy);

// Whether a callback address is plain http to a host other than the loopback's: worth a warning,
// since the report and its signature then cross the network in clear.
bool IsPlainHttpOffLoopback(std::string_view url);

}  // namespace kelvora::protocol
