// Where the process finds the libraries loaded by name and the files named by relative paths.
#pragma once

#include <filesystem>

namespace kelvora::platform {

// Settles both for the service before anything is loaded. On Windows the working folder becomes
// baseDir (a service starts in System32, where files the vendor's library writes by relative
// path must not land), and DLLs loaded by name come only from the program's folder, System32 and
// baseDir\dll, never from the working folder or PATH, so the DLLs the vendor's library loads later
// are its own. A Windows without the search-path update (Windows 7 before KB2533623) keeps its
// standard order less the working folder. On Linux nothing changes: dlopen never searches the
// working folder, and systemd starts the service in the base directory.
void RestrictLibrarySearch(const std::filesystem::path& baseDir);

}  // namespace kelvora::platform
