// Scenario files: a dialogue written out command by command, which the simulator plays instead of
// its built-in dialogues so that any sequence the real library may return can be run in the lab.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Dialog.h"
#include "Ledger.h"

namespace kelvora::sim {

// The final status of a dialogue whose caller answered otherwise than its scenario expects.
constexpr int kScenarioMismatch = -101;

// What the caller must answer to a command of the scenario (with its next call).
struct Expectation {
  enum class Kind {
    Anything,  // not checked
    Text,      // go on, with exactly `text` in the buffer
    Back,      // the continue flag 1
    Abort,     // the continue flag -1
  } kind = Kind::Anything;
  std::string text;  // UTF-8, as the scenario file writes it
};

// One line of a scenario that hands something out: a command (a result field is command 0) or
// the final status, which ends the scenario.
struct ScenarioStep {
  bool final = false;
  Command command;  // for a command
  int status = 0;   // for the final status
  Expectation expect;
  int line = 0;  // where it stands in the file, for the reports
};

struct Scenario {
  std::string name;  // the file as the control file names it
  std::vector<ScenarioStep> steps;
};

// A scenario file refused, with the line at fault (0 for the file as a whole).
class ScenarioError : public std::runtime_error {
 public:
  ScenarioError(int line, const std::string& reason) : std::runtime_error(reason), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Reads scenario text; throws ScenarioError for anything that is not a well-formed scenario.
Scenario parseScenario(std::string_view text, std::string name);

// Reads a scenario file (at most 4 MiB); throws ScenarioError when it cannot be read or parsed.
Scenario readScenario(const std::filesystem::path& file, std::string name);

// The fiscal data a scenario dialogue was started with, for the ledger.
struct ScenarioStart {
  int function = 0;
  std::string document;
  std::string date;
  std::int64_t cents = 0;
};

// Plays one scenario: hands out its steps in order and checks every answer against what the
// scenario expects. An answer out of place ends the dialogue with kScenarioMismatch, after a
// MISMATCH line in the ledger and a line on standard error; a final status 0 of a transaction is
// an approval the ledger records, pending until it is confirmed or undone.
class ScenarioPlayer {
 public:
  ScenarioPlayer(Scenario scenario, ScenarioStart start, const Ledger& ledger, Host& host);

  // Takes the caller's reply to the last command (`answer` holds its buffer, Windows-1252) and
  // gives the next step.
  Step next(Reply reply, std::string_view answer);

 private:
  bool matches(const Expectation& expect, Reply reply, std::string_view answer) const;
  void reportMismatch(const ScenarioStep& step, Reply reply, std::string_view answer) const;
  bool recordApproval();

  Scenario scenario_;
  ScenarioStart start_;
  const Ledger& ledger_;
  Host& host_;
  std::size_t position_ = 0;  // the next step to hand out
};

// Reports a scenario that could not be read (standard error and a BADSCENARIO ledger line).
void reportBadScenario(const Ledger& ledger, const std::string& name, const ScenarioError& error);

}  // namespace kelvora::sim
