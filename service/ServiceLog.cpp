// Log file names from the pt-BR calendar texts, and the append-only writes of the service log.
#include "service/ServiceLog.h"

#include "platform/Ansi.h"
#include "platform/FileSystem.h"
#include "platform/FormatSettings.h"

#include <exception>

namespace kelvora::service {
namespace {

// The long month name with its first character upper-cased (only a to z change): "Outubro".
std::string MonthDirectoryName(platform::TDateTime date) {
  const platform::DateParts parts = platform::DecodeDateTime(date);
  std::string name = platform::PtBR().LongMonthNames[static_cast<size_t>(parts.month - 1)];
  if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 32);
  return name + "-" + platform::FormatDateTime("yyyy", date);
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

// Appends bytes under the platform's append lock, so lines written by several threads (or
// processes) at once do not interleave.
bool AppendToFile(const std::filesystem::path& file, std::string_view bytes) {
  try {
    platform::AppendFileBytes(file.string(), bytes);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

TServiceLog::TServiceLog(std::filesystem::path baseDir, std::string serviceName,
                         const platform::Clock& clock)
    : baseDir_(std::move(baseDir)), serviceName_(std::move(serviceName)), clock_(clock) {}

std::filesystem::path TServiceLog::FileFor(platform::TDateTime date) const {
  return baseDir_ / "Log" / MonthDirectoryName(date) /
         (serviceName_ + " " + platform::FormatDateTime("dd-mm-yyyy", date) + ".log");
}

bool TServiceLog::GravaLog(std::string_view pStr) const noexcept {
  try {
    const platform::TDateTime now = platform::Now(clock_);
    const std::filesystem::path file = FileFor(now);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) return false;
    std::string line;
    if (!IsBlank(pStr)) {
      line = "[" + platform::FormatDateTime("dd/mm/yyyy hh:nn:ss", now) + "] ";
      line += pStr;
    }
    line += "\r\n";
    return AppendToFile(file, platform::RawBytes(platform::ToAnsi(line)));
  } catch (...) {
    return false;
  }
}

std::filesystem::path TefLogFileName(const std::filesystem::path& baseDir,
                                     platform::TDateTime now) {
  const std::filesystem::path logDirectory = baseDir / "Log";
  const std::filesystem::path monthDirectory =
      logDirectory / platform::FormatDateTime("mm-yyyy", now);
  std::error_code ignored;
  std::filesystem::create_directory(logDirectory, ignored);
  std::filesystem::create_directory(monthDirectory, ignored);
  return monthDirectory / ("TEF-" + platform::FormatDateTime("dd-mm-yyyy", now) + ".log");
}

}  // namespace kelvora::service
