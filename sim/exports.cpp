// The C entry points of the simulated library: each takes the process-wide lock, checks its
// arguments against the library's contract and calls the simulator; no C++ exception ever crosses
// them.
#include <chrono>
#include <filesystem>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

#include "Contract.h"
#include "Exports.h"
#include "LibraryDirectory.h"
#include "Simulator.h"

using kelvora::sim::Buffer;
using kelvora::sim::Simulator;
using kelvora::sim::Value;

namespace {

const std::filesystem::path gDirectory = kelvora::sim::libraryDirectory();
std::mutex gMutex;

Simulator& simulator() {
  static Simulator instance(gDirectory);
  return instance;
}

std::string_view text(const char* s) {
  return s ? std::string_view(s) : std::string_view();
}

// Runs `call` under the lock; failures the simulator cannot report otherwise become the
// library's own error codes.
template <typename Call>
int guarded(Call call) {
  try {
    const std::lock_guard lock(gMutex);
    return call(simulator());
  } catch (const std::bad_alloc&) {
    return kelvora::sim::kOutOfMemory;
  } catch (...) {
    return kelvora::sim::kInternalError;
  }
}

// Like guarded, but a call whose arguments break the contract is refused before it acts.
template <typename Call>
int checked(std::string_view function,
            std::initializer_list<std::pair<std::string_view, Value>> arguments, Call call) {
  return guarded([&](Simulator& s) {
    if (const auto violation = kelvora::sim::checkArguments(function, arguments)) {
      return s.refuse(*violation);
    }
    return call(s);
  });
}

// Out buffers are checked for presence only.
Value out(const void* p) {
  return Value(std::in_place_type<const void*>, p);
}

// A slow server answers late: the call sleeps before it takes effect, without holding the lock.
void delay(int (Simulator::*setting)() const) {
  int ms = 0;
  guarded([&](Simulator& s) { return ms = (s.*setting)(); });
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

// The additional parameters are checked for their form and not interpreted further.
int KELVORA_SIM_CALL ConfiguraIntSiTefInterativoEx(char* serverAddress, char* storeCode,
                                                   char* terminalNumber, int reserved,
                                                   char* additionalParameters) {
  return checked("ConfiguraIntSiTefInterativoEx",
                 {{"serverAddress", serverAddress},
                  {"storeCode", storeCode},
                  {"terminalNumber", terminalNumber},
                  {"reserved", reserved},
                  {"additionalParameters", additionalParameters}},
                 [&](Simulator& s) {
                   return s.configure(text(serverAddress), text(storeCode), text(terminalNumber));
                 });
}

// Time, operator and restrictions are checked for their form and not interpreted further.
int KELVORA_SIM_CALL IniciaFuncaoSiTefInterativo(int function, char* amount, char* fiscalDocument,
                                                 char* fiscalDate, char* fiscalTime,
                                                 char* operatorId, char* restrictions) {
  return checked("IniciaFuncaoSiTefInterativo",
                 {{"amount", amount},
                  {"fiscalDocument", fiscalDocument},
                  {"fiscalDate", fiscalDate},
                  {"fiscalTime", fiscalTime},
                  {"operatorId", operatorId},
                  {"restrictions", restrictions}},
                 [&](Simulator& s) {
                   return s.start(function, text(amount), text(fiscalDocument), text(fiscalDate));
                 });
}

int KELVORA_SIM_CALL ContinuaFuncaoSiTefInterativo(int* command, int* fieldType,
                                                   short* minimumLength, short* maximumLength,
                                                   char* buffer, int bufferSize, int proceed) {
  delay(&Simulator::continueDelayMs);
  return checked("ContinuaFuncaoSiTefInterativo",
                 {{"command", out(command)},
                  {"fieldType", out(fieldType)},
                  {"minimumLength", out(minimumLength)},
                  {"maximumLength", out(maximumLength)},
                  {"bufferSize", bufferSize},
                  {"buffer", Buffer{buffer, bufferSize}},
                  {"proceed", proceed}},
                 [&](Simulator& s) {
                   return s.resume(command, fieldType, minimumLength, maximumLength, buffer,
                                   bufferSize, proceed);
                 });
}

// The time is checked and not used: the simulated server files transactions by document and date.
int KELVORA_SIM_CALL FinalizaTransacaoSiTefInterativo(int confirm, char* fiscalDocument,
                                                      char* fiscalDate, char* fiscalTime) {
  delay(&Simulator::finalizeDelayMs);
  return checked("FinalizaTransacaoSiTefInterativo",
                 {{"confirm", confirm},
                  {"fiscalDocument", fiscalDocument},
                  {"fiscalDate", fiscalDate},
                  {"fiscalTime", fiscalTime}},
                 [&](Simulator& s) {
                   return s.finalize(confirm == 1, text(fiscalDocument), text(fiscalDate));
                 });
}

int KELVORA_SIM_CALL ObtemQuantidadeTransacoesPendentes(char* fiscalDate, char* fiscalDocument) {
  return checked(
      "ObtemQuantidadeTransacoesPendentes",
      {{"fiscalDate", fiscalDate}, {"fiscalDocument", fiscalDocument}},
      [&](Simulator& s) { return s.pendingCount(text(fiscalDate), text(fiscalDocument)); });
}

int KELVORA_SIM_CALL VerificaPresencaPinPad(void) {
  return guarded([](Simulator& s) { return s.pinpadPresence(); });
}

int KELVORA_SIM_CALL EscreveMensagemPermanentePinPad(char* message) {
  return checked("EscreveMensagemPermanentePinPad", {{"message", message}},
                 [](Simulator& s) { return s.writePermanentMessage(); });
}

// The message buffer is not read: callers may pass one whose content they never set.
int KELVORA_SIM_CALL LeTrilha3(char* /*message*/) {
  return guarded([](Simulator& s) { return s.readTrack3(); });
}

// The message buffer is neither read nor written, for the same reason; the timeout does not
// apply, since the simulated card is read at once.
int KELVORA_SIM_CALL LeCartaoDiretoEx(char* /*message*/, char* track1, char* track2,
                                      short /*timeout*/, void* /*reserved*/) {
  return checked("LeCartaoDiretoEx", {{"track1", out(track1)}, {"track2", out(track2)}},
                 [&](Simulator& s) { return s.readCardDirect(track1, track2); });
}

// Resolved by the automation and never called; secure reading would need a real pin-pad's
// encryption, which the simulator does not have.
int KELVORA_SIM_CALL LeCartaoSeguro(char* /*message*/) {
  return checked("LeCartaoSeguro", {}, [](Simulator&) { return kelvora::sim::kInvalidArgument; });
}

int KELVORA_SIM_CALL LeCartaoDiretoSeguro(char* /*message*/, char* /*track1*/, char* /*track2*/,
                                          short /*timeout*/) {
  return checked("LeCartaoDiretoSeguro", {},
                 [](Simulator&) { return kelvora::sim::kInvalidArgument; });
}

int KELVORA_SIM_CALL KelvoraCliSiTefSimulador(void) {
  return 1;
}
