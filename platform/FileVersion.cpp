// Finds the version note in an ELF file by reading its section headers.
#include "platform/FileVersion.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace kelvora::platform {
namespace {

constexpr const char* kSectionName = ".note.kelvora.version";
constexpr const char* kNoteName = "Kelvora";
constexpr uint32_t kNoteType = 1;

// Copies a plain struct out of the file image, refusing any read past its end.
template <typename T>
bool ReadAt(const std::vector<char>& image, uint64_t offset, T& out) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, image.data() + offset, sizeof(T));
  return true;
}

// Walks the notes of one section and returns the descriptor of ours.
std::optional<std::string> FindNote(const std::vector<char>& image, uint64_t offset, uint64_t size) {
  if (offset > image.size() || image.size() - offset < size) return std::nullopt;
  uint64_t pos = offset;
  const uint64_t end = offset + size;
  auto align4 = [](uint64_t v) { return (v + 3) & ~uint64_t{3}; };
  while (end - pos >= sizeof(Elf64_Nhdr)) {
    Elf64_Nhdr header;
    ReadAt(image, pos, header);
    const uint64_t name_pos = pos + sizeof header;
    const uint64_t desc_pos = name_pos + align4(header.n_namesz);
    const uint64_t next = desc_pos + align4(header.n_descsz);
    if (next > end || next <= pos) return std::nullopt;
    const std::string name(image.data() + name_pos, strnlen(image.data() + name_pos, header.n_namesz));
    if (name == kNoteName && header.n_type == kNoteType) {
      return std::string(image.data() + desc_pos, strnlen(image.data() + desc_pos, header.n_descsz));
    }
    pos = next;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadFileVersion(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  Elf64_Ehdr elf;
  if (!ReadAt(image, 0, elf) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
      elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_shentsize != sizeof(Elf64_Shdr)) {
    return std::nullopt;
  }
  Elf64_Shdr names_section;
  if (!ReadAt(image, elf.e_shoff + uint64_t{elf.e_shstrndx} * sizeof(Elf64_Shdr), names_section)) {
    return std::nullopt;
  }
  for (uint16_t i = 0; i < elf.e_shnum; ++i) {
    Elf64_Shdr section;
    if (!ReadAt(image, elf.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr), section)) return std::nullopt;
    const uint64_t name_offset = names_section.sh_offset + section.sh_name;
    if (name_offset >= image.size()) continue;
    const size_t max_len = image.size() - name_offset;
    if (strnlen(image.data() + name_offset, max_len) == std::strlen(kSectionName) &&
        std::strncmp(image.data() + name_offset, kSectionName, max_len) == 0) {
      return FindNote(image, section.sh_offset, section.sh_size);
    }
  }
  return std::nullopt;
}

}  // namespace kelvora::platform
