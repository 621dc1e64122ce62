// Which processor a library file is built for, read from its header before the loader sees it, so
// that a library of the other architecture is refused with words an operator understands instead
// of Windows' error 193 or the dynamic loader's "wrong ELF class".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvora::platform {

// The executable formats whose headers are read.
enum class BinaryFormat { Unknown, Pe, Elf };

// What a file's header says about the code in it.
struct BinaryArchitecture {
  BinaryFormat Format = BinaryFormat::Unknown;
  int Bits = 0;          // 32 or 64; 0 when the header does not say
  unsigned Machine = 0;  // IMAGE_FILE_MACHINE_* for PE, e_machine for ELF
};

// Reads the architecture from the first bytes of a file. The bytes are untrusted: every offset is
// checked against what was read, and anything that does not hold together is Unknown.
BinaryArchitecture ReadBinaryArchitecture(std::string_view header);

// The architecture of this program: the system's own format, its word size and its processor.
BinaryArchitecture ThisProgramArchitecture();

// Why a library cannot be loaded into this program, in the operator's language ("a biblioteca é
// de 32 bits; este serviço é de 64 bits"), or nothing when it may be (the same architecture, or a
// file this check cannot read, which the loader then reports on).
std::optional<std::string> LibraryArchitectureMismatch(const BinaryArchitecture& library,
                                                       const BinaryArchitecture& program);

// The same for a library file on disk.
std::optional<std::string> LibraryArchitectureMismatch(const std::string& file);

}  // namespace kelvora::platform
