// The load tool's measurements on one server: round trips, pipelined throughput and new
// connections, each timed on the client with a steady clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "WsClient.h"

namespace kelvora::bench {

// Sends `count` requests one after the other, each after the previous reply, and appends each
// round trip in microseconds to `samples`.
void MeasureRoundTrips(TWsClient& client, const std::string& request, int count,
                       std::vector<double>& samples);

// Sends `count` requests in batches of `batch` (every request of a batch written before its replies
// are read) and returns the seconds taken.
double MeasurePipelined(TWsClient& client, const std::string& request, int count, int batch);

// Opens and closes `count` connections one after the other (TCP, TLS and WebSocket handshakes,
// then the close of TWsClient::Close) and returns the seconds taken.
double MeasureConnections(TClientContext& context, uint16_t port, int count);

// The p-th percentile (0 to 100) of the samples, by the nearest-rank rule; 0 for none.
double Percentile(std::vector<double> samples, double p);

}  // namespace kelvora::bench
