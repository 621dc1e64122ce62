// The sweep of a folder tree on Linux: every name resolved relative to a folder opened with
// O_NOFOLLOW, examined with fstatat(AT_SYMLINK_NOFOLLOW) and removed with unlinkat.
#include "platform/FolderSweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace kelvora::platform {
namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names in an opened folder, "." and ".." left out.
std::vector<std::string> NamesIn(int folder) {
  std::vector<std::string> names;
  const int listing = ::dup(folder);
  if (listing < 0) return names;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

bool IsKind(int folder, const std::string& name, mode_t kind) {
  struct stat info {};
  return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         (info.st_mode & S_IFMT) == kind;
}

}  // namespace

int SweepFolderTree(
    const std::filesystem::path& root,
    const std::function<bool(const std::string&, const std::string&)>& choose) noexcept {
  try {
    const UniqueFd top(::open(root.c_str(), kOpenFolder));
    if (!top) return 0;
    int removed = 0;
    for (const std::string& folderName : NamesIn(top.Get())) {
      if (!IsKind(top.Get(), folderName, S_IFDIR)) continue;
      const UniqueFd folder(::openat(top.Get(), folderName.c_str(), kOpenFolder));
      if (!folder) continue;
      int removedHere = 0;
      for (const std::string& file : NamesIn(folder.Get())) {
        if (!IsKind(folder.Get(), file, S_IFREG) || !choose(folderName, file)) continue;
        if (::unlinkat(folder.Get(), file.c_str(), 0) == 0) ++removedHere;
      }
      if (removedHere > 0) {
        ::fsync(folder.Get());
        // Only a folder this sweep emptied, and only when empty (the call fails otherwise).
        ::unlinkat(top.Get(), folderName.c_str(), AT_REMOVEDIR);
      }
      removed += removedHere;
    }
    return removed;
  } catch (...) {
    return 0;
  }
}

}  // namespace kelvora::platform
