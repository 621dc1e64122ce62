// Finds the DT_NEEDED names of an ELF file through its program headers, as the loader does.
#include "platform/ElfDependencies.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/UniqueFd.h"

namespace kelvora::platform {
namespace {

// Bounds on what is read of a file nobody vouches for: a real dynamic section holds a few dozen
// entries and a real string table a few kilobytes.
constexpr uint64_t kMaxDynamicBytes = uint64_t{1} << 20;
constexpr uint64_t kMaxStringTableBytes = uint64_t{16} << 20;
constexpr size_t kMaxNeeded = 1024;

// A regular file read at checked offsets.
class ElfFile {
 public:
  explicit ElfFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (fd_ && ::fstat(fd_.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      size_ = static_cast<uint64_t>(info.st_size);
    }
  }

  // Reads `count` bytes at `offset`; false unless they all lie inside the file and were read.
  bool Read(uint64_t offset, uint64_t count, void* out) const {
    if (offset > size_ || size_ - offset < count) return false;
    auto* bytes = static_cast<char*>(out);
    while (count > 0) {
      const ssize_t n = ::pread(fd_.Get(), bytes, count, static_cast<off_t>(offset));
      if (n <= 0) return false;
      bytes += n, offset += static_cast<uint64_t>(n), count -= static_cast<uint64_t>(n);
    }
    return true;
  }

  template <class T>
  bool Read(uint64_t offset, T& out) const {
    return Read(offset, sizeof out, &out);
  }

 private:
  UniqueFd fd_;
  uint64_t size_ = 0;
};

// The types of one ELF class.
struct Elf32 {
  using Ehdr = Elf32_Ehdr;
  using Phdr = Elf32_Phdr;
  using Dyn = Elf32_Dyn;
};
struct Elf64 {
  using Ehdr = Elf64_Ehdr;
  using Phdr = Elf64_Phdr;
  using Dyn = Elf64_Dyn;
};

// The file offset of a virtual address, through the loadable segment that holds it in the file.
template <class Class>
std::optional<uint64_t> OffsetOf(const std::vector<typename Class::Phdr>& loads, uint64_t address) {
  for (const auto& load : loads) {
    if (address >= load.p_vaddr && address - load.p_vaddr < load.p_filesz) {
      const uint64_t within = address - load.p_vaddr;
      if (load.p_offset > UINT64_MAX - within) return std::nullopt;
      return load.p_offset + within;
    }
  }
  return std::nullopt;
}

template <class Class>
std::vector<std::string> Needed(const ElfFile& file) {
  typename Class::Ehdr header{};
  if (!file.Read(0, header)) return {};
  if (header.e_phentsize < sizeof(typename Class::Phdr)) return {};

  std::vector<typename Class::Phdr> loads;
  std::optional<typename Class::Phdr> dynamic;
  for (uint64_t i = 0; i < header.e_phnum; ++i) {
    const uint64_t at = static_cast<uint64_t>(header.e_phoff) + i * header.e_phentsize;
    if (at < header.e_phoff) return {};
    typename Class::Phdr segment{};
    if (!file.Read(at, segment)) return {};
    if (segment.p_type == PT_LOAD) loads.push_back(segment);
    if (segment.p_type == PT_DYNAMIC && !dynamic) dynamic = segment;
  }
  if (!dynamic || dynamic->p_filesz > kMaxDynamicBytes) return {};

  std::vector<typename Class::Dyn> entries(dynamic->p_filesz / sizeof(typename Class::Dyn));
  if (!file.Read(dynamic->p_offset, entries.size() * sizeof(typename Class::Dyn), entries.data())) {
    return {};
  }
  std::vector<uint64_t> needed;
  std::optional<uint64_t> strtab;
  uint64_t strsz = 0;
  for (const auto& entry : entries) {
    if (entry.d_tag == DT_NULL) break;
    if (entry.d_tag == DT_NEEDED && needed.size() < kMaxNeeded) needed.push_back(entry.d_un.d_val);
    if (entry.d_tag == DT_STRTAB) strtab = entry.d_un.d_ptr;
    if (entry.d_tag == DT_STRSZ) strsz = entry.d_un.d_val;
  }
  if (needed.empty() || !strtab || strsz == 0 || strsz > kMaxStringTableBytes) return {};
  const std::optional<uint64_t> strtabOffset = OffsetOf<Class>(loads, *strtab);
  if (!strtabOffset) return {};
  std::string strings(strsz, '\0');
  if (!file.Read(*strtabOffset, strsz, strings.data())) return {};

  std::vector<std::string> names;
  for (const uint64_t offset : needed) {
    if (offset >= strings.size()) return {};
    const size_t end = strings.find('\0', offset);
    if (end == std::string::npos) return {};
    std::string name = strings.substr(offset, end - offset);
    if (!name.empty() && name.find('/') == std::string::npos) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

std::vector<std::string> NeededLibraries(const std::string& path) {
  const ElfFile file(path);
  unsigned char ident[EI_NIDENT] = {};
  if (!file.Read(0, sizeof ident, ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return {};
  const unsigned char hostOrder =
      __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
  if (ident[EI_DATA] != hostOrder) return {};
  if (ident[EI_CLASS] == ELFCLASS64) return Needed<Elf64>(file);
  if (ident[EI_CLASS] == ELFCLASS32) return Needed<Elf32>(file);
  return {};
}

}  // namespace kelvora::platform
