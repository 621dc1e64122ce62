// The C entry points of the simulated library: each takes the process-wide lock, turns its
// arguments into safe values and calls the simulator; no C++ exception ever crosses them.
#include <chrono>
#include <filesystem>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

#include "Exports.h"
#include "LibraryDirectory.h"
#include "Simulator.h"

using kelvora::sim::Simulator;

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

// A slow server answers late: the call sleeps before it takes effect, without holding the lock.
void delay(int (Simulator::*setting)() const) {
  int ms = 0;
  guarded([&](Simulator& s) { return ms = (s.*setting)(); });
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

int KELVORA_SIM_CALL ConfiguraIntSiTefInterativoEx(char* serverAddress, char* storeCode,
                                                   char* terminalNumber, int /*reserved*/,
                                                   char* /*additionalParameters*/) {
  return guarded([&](Simulator& s) {
    return s.configure(text(serverAddress), text(storeCode), text(terminalNumber));
  });
}

int KELVORA_SIM_CALL IniciaFuncaoSiTefInterativo(int function, char* amount, char* fiscalDocument,
                                                 char* fiscalDate, char* fiscalTime,
                                                 char* /*operatorId*/, char* /*restrictions*/) {
  return guarded([&](Simulator& s) {
    return s.start(function, text(amount), text(fiscalDocument), text(fiscalDate),
                   text(fiscalTime));
  });
}

int KELVORA_SIM_CALL ContinuaFuncaoSiTefInterativo(int* command, int* fieldType,
                                                   short* minimumLength, short* maximumLength,
                                                   char* buffer, int bufferSize, int proceed) {
  delay(&Simulator::continueDelayMs);
  return guarded([&](Simulator& s) {
    return s.resume(command, fieldType, minimumLength, maximumLength, buffer, bufferSize, proceed);
  });
}

int KELVORA_SIM_CALL FinalizaTransacaoSiTefInterativo(int confirm, char* fiscalDocument,
                                                      char* fiscalDate, char* /*fiscalTime*/) {
  delay(&Simulator::finalizeDelayMs);
  return guarded([&](Simulator& s) {
    return s.finalize(confirm != 0, text(fiscalDocument), text(fiscalDate));
  });
}

int KELVORA_SIM_CALL ObtemQuantidadeTransacoesPendentes(char* fiscalDate, char* fiscalDocument) {
  return guarded(
      [&](Simulator& s) { return s.pendingCount(text(fiscalDate), text(fiscalDocument)); });
}

int KELVORA_SIM_CALL VerificaPresencaPinPad(void) {
  return guarded([](Simulator& s) { return s.pinpadPresence(); });
}

int KELVORA_SIM_CALL EscreveMensagemPermanentePinPad(char* message) {
  if (message == nullptr) return kelvora::sim::kInvalidArgument;
  return guarded([](Simulator& s) { return s.writePermanentMessage(); });
}

// The message buffer is not read: callers may pass one whose content they never set.
int KELVORA_SIM_CALL LeTrilha3(char* /*message*/) {
  return guarded([](Simulator& s) { return s.readTrack3(); });
}

// The message buffer is neither read nor written, for the same reason; the timeout does not
// apply, since the simulated card is read at once.
int KELVORA_SIM_CALL LeCartaoDiretoEx(char* /*message*/, char* track1, char* track2,
                                      short /*timeout*/, void* /*reserved*/) {
  return guarded([&](Simulator& s) { return s.readCardDirect(track1, track2); });
}

// Secure card reading needs a real pin-pad's encryption, which the simulator does not have.
int KELVORA_SIM_CALL LeCartaoSeguro(char* /*message*/) {
  return kelvora::sim::kInvalidArgument;
}

int KELVORA_SIM_CALL LeCartaoDiretoSeguro(char* /*message*/, char* /*track1*/, char* /*track2*/,
                                          short /*timeout*/) {
  return kelvora::sim::kInvalidArgument;
}

int KELVORA_SIM_CALL KelvoraCliSiTefSimulador(void) {
  return 1;
}
