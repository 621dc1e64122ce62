// Counting the files that stand for work not yet done (backups of unconfirmed payments, reports
// the sales API has not answered), read from their folder when asked rather than tracked.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace kelvora::metrics {

struct TPendingFiles {
  size_t Count = 0;
  double OldestAgeSeconds = 0;  // 0 when there are none
};

// The regular files of directory whose names start with prefix and end with extension, and how
// long ago the oldest of them was last written. A folder that does not exist holds none.
TPendingFiles ScanPendingFiles(const std::filesystem::path& directory, std::string_view prefix,
                               std::string_view extension,
                               std::chrono::system_clock::time_point now);

// The backups of approved payments not yet confirmed (KoCliSiTef_*.tef) and the reports the sales
// API has not taken yet (*.json; a report it refused for good is set aside under another name).
TPendingFiles PendingBackups(const std::filesystem::path& directory,
                             std::chrono::system_clock::time_point now);
TPendingFiles PendingSalesReports(const std::filesystem::path& directory,
                                  std::chrono::system_clock::time_point now);

}  // namespace kelvora::metrics
