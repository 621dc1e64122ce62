// The simulator's file version, carried in an ELF note that the service reads as a Windows program
// reads a version resource.
//
// Layout (a standard ELF note, 4-byte aligned, in its own allocated section so that it is found
// both through the section table and through the PT_NOTE program header):
//   section ".note.kelvora.version"
//   namesz = 8, descsz = 12, type = 1
//   name   = "Kelvora\0"
//   desc   = "6.2.0.1-sim\0"   (the version text, NUL-terminated; 12 bytes, so no padding follows)
#include <cstdint>

namespace {

struct VersionNote {
  std::uint32_t nameSize;
  std::uint32_t descriptorSize;
  std::uint32_t type;
  char name[8];
  char descriptor[12];
};

static_assert(sizeof(VersionNote) == 32, "the note must have no padding of its own");

[[gnu::used, gnu::section(".note.kelvora.version"),
  gnu::aligned(4)]] const VersionNote kVersionNote = {8, 12, 1, "Kelvora", "6.2.0.1-sim"};

}  // namespace
