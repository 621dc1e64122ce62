// Where the simulator's own file lies: its ledger and control file live beside it.
#pragma once

#include <filesystem>

namespace kelvora::sim {

// The folder the library was loaded from (the current folder when the system cannot tell). Taken
// while the library loads, so that a relative path given to the loader still names the right
// folder after the process changes directory.
std::filesystem::path libraryDirectory();

}  // namespace kelvora::sim
