// A service probe over plain values, for the tests of what the endpoint reads at a scrape.
#pragma once

#include <filesystem>

#include "metrics/Telemetry.h"

namespace kelvora::metrics::testing {

struct TProbeValues {
  bool ListenerUp = true;
  size_t Connections = 2;
  size_t Sessions = 1;
  bool DialogueRunning = false;
};

inline TServiceProbe ProbeOf(const TProbeValues& values, const std::filesystem::path& base) {
  TServiceProbe probe;
  probe.ListenerUp = [&values] { return values.ListenerUp; };
  probe.ListenerPort = [] { return uint16_t{8443}; };
  probe.Connections = [&values] { return values.Connections; };
  probe.Sessions = [&values] { return values.Sessions; };
  probe.DialogueRunning = [&values] { return values.DialogueRunning; };
  probe.LibraryFile = base / "dll" / "CliSiTef32I.dll";
  probe.BackupDirectory = base / "TEF";
  probe.OutboxDirectory = base / "TEF" / "RegistrosAPI";
  return probe;
}

}  // namespace kelvora::metrics::testing
