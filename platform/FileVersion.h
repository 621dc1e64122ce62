// File versions carried by executables and shared objects, and how to embed one: on Linux an ELF
// note, on Windows the VERSIONINFO resource that the build links in (the macro is then empty).
//
// The note lives in the section ".note.kelvora.version": name "Kelvora", type 1, and as its
// descriptor the version text ("1.0.0.4") ending in a NUL byte.
#pragma once

#include <optional>
#include <string>

namespace kelvora::platform {

// Reads the version text of the file; nullopt when the file cannot be read or carries no version.
std::optional<std::string> ReadFileVersion(const std::string& path);

}  // namespace kelvora::platform

// Embeds the version note in the binary that expands it (once per binary, at namespace scope).
// The section is allocated so that the note survives stripping.
#ifdef _WIN32
#define KELVORA_FILE_VERSION_NOTE(version_literal)
#else
#define KELVORA_FILE_VERSION_NOTE(version_literal)       \
  __asm__(                                               \
      ".pushsection .note.kelvora.version,\"a\",@note\n" \
      ".balign 4\n"                                      \
      ".long 8\n"                                        \
      ".long 2f - 1f\n"                                  \
      ".long 1\n"                                        \
      ".asciz \"Kelvora\"\n"                             \
      "1: .asciz \"" version_literal                     \
      "\"\n"                                             \
      "2: .balign 4\n"                                   \
      ".popsection\n")
#endif
