// Formatting of the load tool's table.
#include "Report.h"

#include <cstdio>

namespace kelvora::bench {
namespace {

// A figure with as many decimals as its size calls for: 3 below 10, 1 below 1000, none above.
std::string Figure(double value) {
  char text[32];
  const char* format = value < 10 ? "%.3f" : value < 1000 ? "%.1f" : "%.0f";
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

void TReport::Print(std::ostream& out) const {
  out << "| measure | service | peer | service/peer | target | result |\n";
  out << "|---|---:|---:|---:|---|---|\n";
  for (const TRow& row : rows_) {
    out << "| " << row.Measure << " (" << row.Unit << ") | " << Figure(row.Service) << " | "
        << (row.Peer ? Figure(*row.Peer) : "-") << " | ";
    if (row.ShowRatio && row.Peer && *row.Peer > 0) {
      char ratio[32];
      std::snprintf(ratio, sizeof ratio, "%.2f", row.Service / *row.Peer);
      out << ratio;
    } else {
      out << "-";
    }
    out << " | " << (row.Target.empty() ? "-" : row.Target) << " | "
        << (row.Pass ? (*row.Pass ? "PASS" : "FAIL") : "-") << " |\n";
  }
}

int TReport::Targets() const {
  int n = 0;
  for (const TRow& row : rows_) n += row.Pass.has_value();
  return n;
}

int TReport::Passed() const {
  int n = 0;
  for (const TRow& row : rows_) n += row.Pass.value_or(false);
  return n;
}

}  // namespace kelvora::bench
