// The load tool's table: each measure for the service and the peer, their ratio, the target and
// whether the service met it, printed as a Markdown table so a run can go into bench/README.md.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kelvora::bench {

struct TRow {
  std::string Measure;
  std::string Unit;
  double Service = 0;
  std::optional<double> Peer;  // absent where the peer has no counterpart
  std::string Target;          // empty for a figure given for information
  std::optional<bool> Pass;    // absent for a figure given for information
  bool ShowRatio = true;
};

class TReport {
 public:
  void Add(TRow row) { rows_.push_back(std::move(row)); }
  void Print(std::ostream& out) const;
  // How many rows carry a target, and how many of those the service met.
  int Targets() const;
  int Passed() const;

 private:
  std::vector<TRow> rows_;
};

}  // namespace kelvora::bench
