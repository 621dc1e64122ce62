// File versions carried by executables and shared objects in an ELF note, and how to embed one.
//
// The note lives in the section ".note.kelvora.version": name "Kelvora", type 1, and as its
// descriptor the version text ("1.0.0.4") ending in a NUL byte.
#pragma once

#include <optional>
#include <string>

namespace kelvora::platform {

// Reads the version text of the note from an ELF file; nullopt when the file cannot be read, is
// not ELF, or carries no such note.
std::optional<std::string> ReadFileVersion(const std::string& path);

}  // namespace kelvora::platform

// Embeds the version note in the binary that expands it (once per binary, at namespace scope).
// The section is allocated so that the note survives stripping.
#define KELVORA_FILE_VERSION_NOTE(version_literal)                                    \
  __asm__(".pushsection .note.kelvora.version,\"a\",@note\n"                          \
          ".balign 4\n"                                                               \
          ".long 8\n"                                                                 \
          ".long 2f - 1f\n"                                                           \
          ".long 1\n"                                                                 \
          ".asciz \"Kelvora\"\n"                                                      \
          "1: .asciz \"" version_literal "\"\n"                                       \
          "2: .balign 4\n"                                                            \
          ".popsection\n")
