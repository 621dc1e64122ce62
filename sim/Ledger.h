// The ledger CliSiTefSim.ledger: the simulated SiTef server's memory of approvals and settlements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// What the ledger's lines say, taken one line at a time so that a new line costs the same however
// long the ledger has grown.
class LedgerSummary {
 public:
  void apply(const Event& event);

  // The APPROVED events that no later CONFIRMED or UNDONE of the same doc and date has settled,
  // oldest first.
  const std::vector<Event>& pending() const { return pending_; }
  // The highest NSU the ledger records, on any line (0 when none).
  long long highestNsu() const { return highestNsu_; }
  // The last APPROVED event that was not undone: the transaction whose receipts a reprint shows.
  std::optional<Event> lastStandingApproval() const;

 private:
  std::vector<Event> pending_;
  std::vector<long long> pendingOrder_;  // the line number of each pending approval
  std::optional<Event> lastConfirmed_;   // the latest approval (by line) settled by CONFIRMED
  long long lastConfirmedOrder_ = -1;
  long long highestNsu_ = 0;
  long long lines_ = 0;
};

class Ledger {
 public:
  explicit Ledger(std::filesystem::path file) : file_(std::move(file)) {}

  // Appends one line and flushes it to stable storage before returning, so that an approval the
  // caller has been told about cannot be lost by a crash. False when the line could not be stored.
  bool append(const Event& event) const;

  // The summary of every complete line, oldest first (no file: none), brought up to date by reading
  // only what was appended since the last call, by this process or another. A file that was
  // deleted, replaced or cut shorter is read again from its start. A last line without its LF, left
  // by a crash in the middle of a write, is not taken until it is whole. Nothing when the file
  // cannot be read.
  const LedgerSummary* read();

 private:
  // Which file a name stands for: device and inode on Linux, volume serial number and file index
  // on Windows.
  struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
  };
  // Reads up to size bytes at an offset: the count read, 0 at the end, -1 on a failure.
  using ReadAt = std::function<long long(char* into, std::size_t size, std::int64_t at)>;

  void restart();
  // The part of read() every system shares: brings the summary up to date from the open file.
  const LedgerSummary* take(FileIdentity identity, std::int64_t size, const ReadAt& readAt);

  std::filesystem::path file_;
  LedgerSummary summary_;
  FileIdentity identity_;
  std::int64_t taken_ = 0;  // bytes of whole lines already applied to the summary
  std::string lastLine_;    // the last line applied, with its LF, as it ends at `taken_`
};

}  // namespace kelvora::sim
