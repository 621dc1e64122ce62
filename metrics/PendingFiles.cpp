// The pending-work files of a folder, counted at scrape time.
#include "metrics/PendingFiles.h"

#include <algorithm>
#include <optional>
#include <string>
#include <system_error>

namespace kelvora::metrics {

TPendingFiles ScanPendingFiles(const std::filesystem::path& directory, std::string_view prefix,
                               std::string_view extension,
                               std::chrono::system_clock::time_point now) {
  TPendingFiles pending;
  std::error_code failed;
  std::filesystem::directory_iterator entries(directory, failed);
  if (failed) return pending;
  std::optional<std::filesystem::file_time_type> oldest;
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix) || !name.ends_with(extension)) continue;
    if (!entry.is_regular_file(failed)) continue;
    const std::filesystem::file_time_type written = entry.last_write_time(failed);
    if (failed) continue;  // gone since the listing
    ++pending.Count;
    oldest = oldest ? std::min(*oldest, written) : written;
  }
  if (oldest) {
    const auto age = now - std::chrono::file_clock::to_sys(*oldest);
    pending.OldestAgeSeconds = std::max(0.0, std::chrono::duration<double>(age).count());
  }
  return pending;
}

TPendingFiles PendingBackups(const std::filesystem::path& directory,
                             std::chrono::system_clock::time_point now) {
  return ScanPendingFiles(directory, "KoCliSiTef_", ".tef", now);
}

TPendingFiles PendingSalesReports(const std::filesystem::path& directory,
                                  std::chrono::system_clock::time_point now) {
  return ScanPendingFiles(directory, "", ".json", now);
}

}  // namespace kelvora::metrics
