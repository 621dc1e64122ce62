// Reading the processor of a PE or ELF file from its header.
#include "platform/LibraryArchitecture.h"

#include <cstdint>
#include <fstream>

#include "platform/Utf8Path.h"

namespace kelvora::platform {
namespace {

// Enough for the DOS header, a PE header placed anywhere in the first kilobytes and the ELF
// identification; real files place the PE header well within this.
constexpr std::size_t kHeaderBytes = 4096;

constexpr unsigned kPeMachineI386 = 0x014C;
constexpr unsigned kPeMachineAmd64 = 0x8664;
constexpr unsigned kPeMachineArm64 = 0xAA64;
constexpr unsigned kPeMachineArmNt = 0x01C4;
constexpr unsigned kElfMachine386 = 3;
constexpr unsigned kElfMachineX8664 = 62;
constexpr unsigned kElfMachineAarch64 = 183;

unsigned Little16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t Little32(std::string_view bytes, std::size_t at) {
  return Little16(bytes, at) | (static_cast<std::uint32_t>(Little16(bytes, at + 2)) << 16);
}

// A PE file: the DOS header's e_lfanew names the "PE\0\0" signature, followed by the COFF header
// whose first member is the machine.
BinaryArchitecture ReadPe(std::string_view header) {
  constexpr std::size_t kLfanewAt = 0x3C;
  if (header.size() < kLfanewAt + 4) return {};
  const std::uint32_t pe = Little32(header, kLfanewAt);
  if (pe > header.size() || header.size() - pe < 6) return {};
  if (header.substr(pe, 4) != std::string_view("PE\0\0", 4)) return {};
  const unsigned machine = Little16(header, pe + 4);
  switch (machine) {
    case kPeMachineI386:
    case kPeMachineArmNt:
      return {BinaryFormat::Pe, 32, machine};
    case kPeMachineAmd64:
    case kPeMachineArm64:
      return {BinaryFormat::Pe, 64, machine};
    default:
      return {BinaryFormat::Pe, 0, machine};
  }
}

// An ELF file: the class byte gives the word size, e_machine (in the file's byte order) the
// processor.
BinaryArchitecture ReadElf(std::string_view header) {
  constexpr std::size_t kClassAt = 4, kDataAt = 5, kMachineAt = 18;
  if (header.size() < kMachineAt + 2) return {};
  const int bits = header[kClassAt] == 1 ? 32 : header[kClassAt] == 2 ? 64 : 0;
  const unsigned machine =
      header[kDataAt] == 2 ? (static_cast<unsigned char>(header[kMachineAt]) << 8) |
                                 static_cast<unsigned char>(header[kMachineAt + 1])
                           : Little16(header, kMachineAt);
  return {BinaryFormat::Elf, bits, machine};
}

std::string Bits(int bits) { return "de " + std::to_string(bits) + " bits"; }

}  // namespace

BinaryArchitecture ReadBinaryArchitecture(std::string_view header) {
  if (header.substr(0, 2) == "MZ") return ReadPe(header);
  if (header.substr(0, 4) == "\x7f" "ELF") return ReadElf(header);
  return {};
}

BinaryArchitecture ThisProgramArchitecture() {
  constexpr int bits = sizeof(void*) * 8;
#if defined(_WIN32)
  constexpr BinaryFormat format = BinaryFormat::Pe;
#if defined(__x86_64__) || defined(_M_X64)
  constexpr unsigned machine = kPeMachineAmd64;
#elif defined(__aarch64__) || defined(_M_ARM64)
  constexpr unsigned machine = kPeMachineArm64;
#else
  constexpr unsigned machine = kPeMachineI386;
#endif
#else
  constexpr BinaryFormat format = BinaryFormat::Elf;
#if defined(__x86_64__)
  constexpr unsigned machine = kElfMachineX8664;
#elif defined(__aarch64__)
  constexpr unsigned machine = kElfMachineAarch64;
#elif defined(__i386__)
  constexpr unsigned machine = kElfMachine386;
#else
  constexpr unsigned machine = 0;  // another processor: only the word size is compared
#endif
#endif
  return {format, bits, machine};
}

std::optional<std::string> LibraryArchitectureMismatch(const BinaryArchitecture& library,
                                                       const BinaryArchitecture& program) {
  // Another format, or a header this check does not understand: the loader has the better words.
  if (library.Format != program.Format || library.Bits == 0) return std::nullopt;
  if (library.Bits != program.Bits) {
    return "a biblioteca é " + Bits(library.Bits) + "; este serviço é " + Bits(program.Bits);
  }
  if (program.Machine != 0 && library.Machine != program.Machine) {
    return "a biblioteca é para outro processador; este serviço é " + Bits(program.Bits);
  }
  return std::nullopt;
}

std::optional<std::string> LibraryArchitectureMismatch(const std::string& file) {
  std::ifstream in(PathFromUtf8(file), std::ios::binary);
  if (!in) return std::nullopt;
  std::string header(kHeaderBytes, '\0');
  in.read(header.data(), static_cast<std::streamsize>(header.size()));
  header.resize(static_cast<std::size_t>(in.gcount()));
  return LibraryArchitectureMismatch(ReadBinaryArchitecture(header), ThisProgramArchitecture());
}

}  // namespace kelvora::platform
