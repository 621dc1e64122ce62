// The optional control file CliSiTefSim.ini, by which tests and integrators steer the simulator.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kelvora::sim {

// What the control file says; every member holds its default when the file or the key is absent
// or the value is not a whole number in range.
struct Control {
  int pinpadStatus = 1;  // [pinpad] status: result of VerificaPresencaPinPad
  std::optional<int>
      configResult;         // [config] result: forced result of ConfiguraIntSiTefInterativoEx
  int cardPolls = 3;        // [dialog] card_polls: interruption checks while the card is awaited
  int pixPolls = 3;         // [dialog] pix_polls: interruption checks while a Pix is awaited
  bool typedCard = false;   // [dialog] typed_card: the card is typed (512, 513, 514), not read
  std::string scenario;     // [dialog] scenario: a scenario file that every dialogue plays
  int continueDelayMs = 0;  // [delay] continue_ms: sleep inside ContinuaFuncaoSiTefInterativo
  int finalizeDelayMs = 0;  // [delay] finalize_ms: sleep inside FinalizaTransacaoSiTefInterativo
};

// Reads the control file; a missing or unreadable file gives the defaults.
Control readControl(const std::filesystem::path& file);

}  // namespace kelvora::sim
