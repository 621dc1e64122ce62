// The simulated SiTef library as a whole: its configuration, the dialogue in progress and the
// simulated server behind them, one instance per process as the real library.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Contract.h"
#include "Control.h"
#include "Dialog.h"
#include "Ledger.h"
#include "Results.h"
#include "Scenario.h"

namespace kelvora::sim {

// Each method is the behaviour of the export of the same meaning, once the export has checked the
// arguments against the library's contract (so texts are never null here). Not thread-safe: the
// exports serialise.
class Simulator : public Host {
 public:
  // `directory` is the library's own folder, which holds the control file and the ledger.
  explicit Simulator(const std::filesystem::path& directory);

  // Notes a call that broke the library's contract (ledger and standard error) and returns the
  // error the call answers with.
  int refuse(const Violation& violation);

  int configure(std::string_view server, std::string_view store, std::string_view terminal);
  int start(int function, std::string_view amount, std::string_view document,
            std::string_view date);
  int resume(int* command, int* fieldType, short* minimumLength, short* maximumLength, char* buffer,
             int bufferSize, int proceed);
  int finalize(bool confirm, std::string_view document, std::string_view date);
  int pendingCount(std::string_view date, std::string_view document);
  int pinpadPresence();
  int writePermanentMessage();
  int readTrack3();
  int readCardDirect(char* track1, char* track2);

  // The delays the control file asked for when it was last read.
  int continueDelayMs() const { return control_.continueDelayMs; }
  int finalizeDelayMs() const { return control_.finalizeDelayMs; }

  std::string nextNsu() override;
  std::optional<Sale> lastSale() override;

 private:
  // A started dialogue with the fiscal data it was started under; a scenario, when the control
  // file names one, plays instead of the built-in dialogue.
  struct OpenDialog {
    Dialog dialog;
    int function;
    std::string document;
    std::string date;
    std::unique_ptr<ScenarioPlayer> scenario;
  };

  int startScenario(int function, std::int64_t cents, std::string_view document,
                    std::string_view date);

  bool record(const OpenDialog& open, const Sale& sale, int status);
  // A new start or configuration while a dialogue has not reached its final status: the caller
  // gave it up, which the ledger records instead of forgetting it.
  void abandonOpenDialog();

  std::filesystem::path controlFile_;
  Ledger ledger_;
  Control control_;
  bool configured_ = false;
  Terminal terminal_;
  std::optional<OpenDialog> open_;
  long long lastNsu_ = 0;
};

}  // namespace kelvora::sim
