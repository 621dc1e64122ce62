// The ledger CliSiTefSim.ledger: the simulated SiTef server's memory of approvals and settlements.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvora::sim {

// One line of the ledger: an event word (APPROVED, REFUSED, CONFIRMED, UNDONE) followed by
// key=value pairs in the order they were added.
class Event {
 public:
  explicit Event(std::string kind) : kind_(std::move(kind)) {}

  const std::string& kind() const { return kind_; }
  Event& set(std::string key, std::string value);
  // The value of `key`, empty when the line has none.
  std::string get(std::string_view key) const;

  // The line without its LF; values are percent-encoded so that no blank, control byte or
  // non-ASCII byte can split or garble a line.
  std::string line() const;
  // Reads a line written by line(); nothing for a line that has no event word.
  static std::optional<Event> parse(std::string_view line);

 private:
  std::string kind_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

class Ledger {
 public:
  explicit Ledger(std::filesystem::path file) : file_(std::move(file)) {}

  // Appends one line and flushes it to stable storage before returning, so that an approval the
  // caller has been told about cannot be lost by a crash. False when the line could not be stored.
  bool append(const Event& event) const;

  // Every complete line, oldest first (no file yet: none). Nothing when the file cannot be read.
  // A last line without its LF, left by a crash in the middle of a write, is not counted.
  std::optional<std::vector<Event>> read() const;

 private:
  std::filesystem::path file_;
};

// The APPROVED events that no later CONFIRMED or UNDONE of the same doc and date has settled.
std::vector<Event> pendingApprovals(const std::vector<Event>& events);

// The highest NSU the ledger records, approved or refused (0 when none).
long long highestNsu(const std::vector<Event>& events);

// The last APPROVED event that was not undone: the transaction whose receipts a reprint shows.
std::optional<Event> lastStandingApproval(const std::vector<Event>& events);

}  // namespace kelvora::sim
