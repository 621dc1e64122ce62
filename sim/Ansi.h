// Conversion of the simulator's own UTF-8 texts into Windows-1252, the code page the SiTef library
// hands out.
#pragma once

#include <string>
#include <string_view>

namespace kelvora::sim {

// Returns `utf8` in Windows-1252. A character the code page lacks, and a malformed UTF-8
// sequence, become '?', so the result is always safe to hand to the caller.
std::string toAnsi(std::string_view utf8);

}  // namespace kelvora::sim
