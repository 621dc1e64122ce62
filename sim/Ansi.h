// Conversion of the simulator's own UTF-8 texts into Windows-1252, the code page the SiTef library
// hands out.
#pragma once

#include <string>
#include <string_view>

namespace kelvora::sim {

// Returns `utf8` in Windows-1252. A character the code page lacks, and a malformed UTF-8
// sequence, become '?', so the result is always safe to hand to the caller.
std::string toAnsi(std::string_view utf8);

// Returns the Windows-1252 character `byte` in UTF-8; empty for NUL and for the five bytes the
// code page leaves undefined.
std::string fromAnsi(unsigned char byte);

}  // namespace kelvora::sim
