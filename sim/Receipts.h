// The customer and merchant receipts of a simulated transaction (result fields 121 and 122).
#pragma once

#include <string>

#include "Sale.h"

namespace kelvora::sim {

// The store and terminal the library was configured with; both receipts name them.
struct Terminal {
  std::string store;
  std::string terminal;
};

struct Receipts {
  std::string customer;  // field 121
  std::string merchant;  // field 122
};

// Both copies as UTF-8 lines separated by LF (no LF after the last line), at most 40 columns wide.
// Each copy opens and closes with a line saying that it is a simulation without value, so that no
// one mistakes it for a real payment, even when the slip is torn.
Receipts buildReceipts(const Sale& sale, const Terminal& terminal, bool reprint);

}  // namespace kelvora::sim
