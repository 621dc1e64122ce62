// Finds the version note in an ELF file by reading its section headers.
#include "platform/FileVersion.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "platform/UniqueFd.h"

namespace kelvora::platform {
namespace {

constexpr const char* kSectionName = ".note.kelvora.version";
constexpr const char* kNoteName = "Kelvora";
constexpr uint32_t kNoteType = 1;

// A regular file read in blocks on demand, each block read once. "/version" examines the
// service's own executable on every request, and only the few blocks that hold the headers, the
// section names and the note are needed, however large the file (debug information included) is.
class FileImage {
 public:
  static constexpr uint64_t kBlock = 4096;

  explicit FileImage(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (fd_ && ::fstat(fd_.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      size_ = static_cast<uint64_t>(info.st_size);
    }
  }

  // The file's size; 0 when it could not be opened or is not a regular file.
  uint64_t size() const { return size_; }

  // Copies `count` bytes at `offset` into `out`; false when they do not all lie inside the file or
  // cannot be read (a file that shrank meanwhile).
  bool Copy(uint64_t offset, uint64_t count, char* out) {
    if (offset > size_ || size_ - offset < count) return false;
    while (count > 0) {
      const std::vector<char>* block = Block(offset / kBlock);
      const uint64_t within = offset % kBlock;
      if (block == nullptr || block->size() <= within) return false;
      const uint64_t n = std::min<uint64_t>(count, block->size() - within);
      std::memcpy(out, block->data() + within, n);
      out += n, offset += n, count -= n;
    }
    return true;
  }

 private:
  // The block of that index as far as the file goes; nullptr when it cannot be read.
  const std::vector<char>* Block(uint64_t index) {
    if (const auto found = blocks_.find(index); found != blocks_.end()) return &found->second;
    std::vector<char> bytes(kBlock);
    const ssize_t got =
        ::pread(fd_.Get(), bytes.data(), bytes.size(), static_cast<off_t>(index * kBlock));
    if (got <= 0) return nullptr;
    bytes.resize(static_cast<size_t>(got));
    return &blocks_.emplace(index, std::move(bytes)).first->second;
  }

  UniqueFd fd_;
  uint64_t size_ = 0;
  std::map<uint64_t, std::vector<char>> blocks_;
};

// Copies a plain struct out of the file, refusing any read past its end.
template <typename T>
bool ReadAt(FileImage& image, uint64_t offset, T& out) {
  return image.Copy(offset, sizeof(T), reinterpret_cast<char*>(&out));
}

// Walks the notes of one section and returns the descriptor of ours.
std::optional<std::string> FindNote(FileImage& file, uint64_t offset, uint64_t size) {
  std::vector<char> image(size);
  if (!file.Copy(offset, size, image.data())) return std::nullopt;
  uint64_t pos = 0;
  const uint64_t end = size;
  auto align4 = [](uint64_t v) { return (v + 3) & ~uint64_t{3}; };
  while (end - pos >= sizeof(Elf64_Nhdr)) {
    Elf64_Nhdr header;
    std::memcpy(&header, image.data() + pos, sizeof header);
    const uint64_t name_pos = pos + sizeof header;
    const uint64_t desc_pos = name_pos + align4(header.n_namesz);
    const uint64_t next = desc_pos + align4(header.n_descsz);
    if (next > end || next <= pos) return std::nullopt;
    const std::string name(image.data() + name_pos,
                           strnlen(image.data() + name_pos, header.n_namesz));
    if (name == kNoteName && header.n_type == kNoteType) {
      return std::string(image.data() + desc_pos,
                         strnlen(image.data() + desc_pos, header.n_descsz));
    }
    pos = next;
  }
  return std::nullopt;
}

// Reads the note from the file's headers.
std::optional<std::string> ReadNote(const std::string& path) {
  FileImage image(path);

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
    if (!ReadAt(image, elf.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr), section))
      return std::nullopt;
    const uint64_t name_offset = names_section.sh_offset + section.sh_name;
    if (name_offset >= image.size()) continue;
    // The name is ours when its bytes, up to a NUL or the end of the file, are exactly ours.
    const size_t length = std::strlen(kSectionName);
    const size_t max_len =
        static_cast<size_t>(std::min<uint64_t>(length + 1, image.size() - name_offset));
    char name[32] = {};
    if (!image.Copy(name_offset, max_len, name)) return std::nullopt;
    if (strnlen(name, max_len) == length && std::memcmp(name, kSectionName, length) == 0) {
      return FindNote(image, section.sh_offset, section.sh_size);
    }
  }
  return std::nullopt;
}

// What identifies one content of a file: replacing or rewriting the file changes it, since the
// change time moves with every write and cannot be set back.
struct FileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  timespec Changed{};

  explicit FileIdentity(const struct stat& info)
      : Device(info.st_dev),
        Inode(info.st_ino),
        Size(info.st_size),
        Modified(info.st_mtim),
        Changed(info.st_ctim) {}

  bool operator==(const FileIdentity& other) const {
    return Device == other.Device && Inode == other.Inode && Size == other.Size &&
           Modified.tv_sec == other.Modified.tv_sec && Modified.tv_nsec == other.Modified.tv_nsec &&
           Changed.tv_sec == other.Changed.tv_sec && Changed.tv_nsec == other.Changed.tv_nsec;
  }

  // File times advance in coarse steps, so a write within the same step as the last one may leave
  // them as they were. A file last changed more than a second ago cannot have that happen again:
  // any later write gets a later change time.
  bool Settled() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - Changed.tv_sec > 1;
  }
};

// The last settled file examined and its version. "/version" asks about the service's own
// executable on every request; while that file stays the same, the answer costs one stat instead of
// reading it.
struct LastLookup {
  std::string Path;
  FileIdentity Identity;
  std::optional<std::string> Version;
};

std::mutex lastLookupLock;
std::optional<LastLookup> lastLookup;

}  // namespace

std::optional<std::string> ReadFileVersion(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  const FileIdentity identity(info);
  {
    const std::lock_guard lock(lastLookupLock);
    if (lastLookup && lastLookup->Path == path && lastLookup->Identity == identity) {
      return lastLookup->Version;
    }
  }
  // Identity first, content second: a file replaced in between is read again next time.
  std::optional<std::string> version = ReadNote(path);
  if (identity.Settled()) {
    const std::lock_guard lock(lastLookupLock);
    lastLookup = LastLookup{path, identity, version};
  }
  return version;
}

}  // namespace kelvora::platform
