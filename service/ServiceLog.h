// The service log (one file per day under Log/<Month>-<year>/) and the TEF log's file name (under
// Log/<MM>-<year>/), both under the base directory.
#pragma once

#include "platform/DateTime.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvora::service {

class TServiceLog {
 public:
  // Writes under baseDir/Log, in files named after serviceName, dated by clock (local time).
  TServiceLog(std::filesystem::path baseDir, std::string serviceName,
              const platform::Clock& clock = platform::DefaultClock());

  // Appends "[dd/mm/yyyy hh:nn:ss] " and pStr (untrimmed, its control characters escaped by
  // EscapeLogText) as one Windows-1252 line ending in CR LF; a text that is empty or only blanks
  // and control characters appends CR LF alone. Directories are made with mode 0750 and the file
  // with 0640. The month directory is made when missing and the file is opened and closed on every
  // call, so callers on several threads need no lock. True when the line was written; false when
  // anything failed. Never throws.
  bool GravaLog(std::string_view pStr) const noexcept;

  // The file today's lines go to: baseDir/Log/Outubro-2025/KelvoraSiTefService 07-10-2025.log.
  std::filesystem::path FileFor(platform::TDateTime date) const;
  const std::filesystem::path& BaseDir() const { return baseDir_; }

 private:
  std::filesystem::path baseDir_;
  std::string serviceName_;
  const platform::Clock& clock_;
};

// The TEF log's file name for the day of now: baseDir/Log/10-2025/TEF-07-10-2025.log. Creates
// baseDir/Log and the month directory below it, one level each; a directory that cannot be made
// is ignored here and makes the TEF log's own writes fail later. The data module calls it once,
// when it is created, so the name keeps that date for the life of the process.
std::filesystem::path TefLogFileName(const std::filesystem::path& baseDir, platform::TDateTime now);
// The same name, without making any directory.
std::filesystem::path TefLogFilePath(const std::filesystem::path& baseDir,
                                     platform::TDateTime date);

}  // namespace kelvora::service
