// Removing chosen files from a folder of folders (the logs' month folders) without ever following
// a link: a folder replaced by a link, or a link planted among the files, leads nowhere, so a
// sweep can only remove what lies in the tree itself.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace kelvora::platform {

// Calls choose(folder name, file name) for every regular file in every folder directly under
// root and removes those it chooses; then removes each folder this emptied (only when empty).
// The root and the folders are opened without following links (on Linux, O_NOFOLLOW and names
// resolved relative to the opened folder; on Windows, reparse points refused), so a link in
// place of any of them is skipped, and a name swapped for a link between the check and the
// removal removes the link, never its target. Returns how many files were removed; never throws.
int SweepFolderTree(
    const std::filesystem::path& root,
    const std::function<bool(const std::string& folder, const std::string& file)>& choose) noexcept;

}  // namespace kelvora::platform
