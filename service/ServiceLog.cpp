// Log file names from the pt-BR calendar texts, and the append-only writes of the service log.
#include "service/ServiceLog.h"

#include "platform/Ansi.h"
#include "platform/FileSystem.h"
#include "platform/FormatSettings.h"
#include "platform/LogText.h"
#include "platform/PrivateDirectory.h"

#include <system_error>

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
    if (!platform::CreatePrivateDirectories(file.parent_path(), ec)) return false;
    std::string line;
    if (!IsBlank(pStr)) {
      line = "[" + platform::FormatDateTime("dd/mm/yyyy hh:nn:ss", now) + "] ";
      // Texts from clients, the sales API and the library must not end the line or forge another.
      line += platform::EscapeLogText(pStr);
    }
    line += "\r\n";
    // One append of the whole line on a descriptor opened for appending, so lines written by
    // several threads at once do not interleave.
    platform::AppendFileBytes(file.string(), platform::RawBytes(platform::ToAnsi(line)));
    return true;
  } catch (...) {
    return false;
  }
}

std::filesystem::path TefLogFilePath(const std::filesystem::path& baseDir,
                                     platform::TDateTime date) {
  return baseDir / "Log" / platform::FormatDateTime("mm-yyyy", date) /
         ("TEF-" + platform::FormatDateTime("dd-mm-yyyy", date) + ".log");
}

std::filesystem::path TefLogFileName(const std::filesystem::path& baseDir,
                                     platform::TDateTime now) {
  const std::filesystem::path file = TefLogFilePath(baseDir, now);
  std::error_code ignored;
  platform::CreatePrivateDirectory(file.parent_path().parent_path(), ignored);
  platform::CreatePrivateDirectory(file.parent_path(), ignored);
  return file;
}

}  // namespace kelvora::service
