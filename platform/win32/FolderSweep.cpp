// The sweep of a folder tree on Windows: a reparse point (a symbolic link or a junction) is never
// entered nor its target touched; the attributes are read again just before each removal.
#include "platform/FolderSweep.h"

#include <windows.h>

#include <system_error>

#include "platform/win32/WideText.h"

namespace kelvora::platform {
namespace {

bool IsPlain(const std::filesystem::path& path, bool folder) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

}  // namespace

int SweepFolderTree(
    const std::filesystem::path& root,
    const std::function<bool(const std::string&, const std::string&)>& choose) noexcept {
  try {
    if (!IsPlain(root, true)) return 0;
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::filesystem::path folder = it->path();
      if (!IsPlain(folder, true)) continue;
      const std::string folderName = win32::Narrow(folder.filename().wstring());
      int removedHere = 0;
      std::error_code inner;
      for (std::filesystem::directory_iterator file(folder, inner), last; !inner && file != last;
           file.increment(inner)) {
        const std::filesystem::path path = file->path();
        if (!IsPlain(path, false)) continue;
        if (!choose(folderName, win32::Narrow(path.filename().wstring()))) continue;
        // Looked at again at the last moment: a file swapped for a link is left alone.
        if (IsPlain(folder, true) && IsPlain(path, false) && ::DeleteFileW(path.c_str())) {
          ++removedHere;
        }
      }
      if (removedHere > 0 && IsPlain(folder, true)) ::RemoveDirectoryW(folder.c_str());
      removed += removedHere;
    }
    return removed;
  } catch (...) {
    return 0;
  }
}

}  // namespace kelvora::platform
