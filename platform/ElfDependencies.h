// Reads the names of the shared objects an ELF file needs (its DT_NEEDED entries).
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

// The DT_NEEDED names of an ELF shared object or executable of this machine's byte order, 32 or
// 64-bit, in the order its dynamic section lists them. The file is untrusted: every offset, size
// and count is checked against the file before it is used, and anything that does not hold
// together (not ELF, another byte order, a dynamic section or string table outside the file, a
// name without its terminating NUL) yields an empty list, leaving the loader to report on the
// file. Names that hold a "/" are left out: the loader takes them as paths of their own.
std::vector<std::string> NeededLibraries(const std::string& path);

}  // namespace kelvora::platform
