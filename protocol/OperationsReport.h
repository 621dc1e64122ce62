// The day's operations for the store's closing, read from the journal: every payment and
// cancellation of a local day with its final status, and the totals per kind.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace kelvora::protocol {

enum class TReportFormat { Csv, Json };

// The report of one local day as text: CSV (a header line, one line per operation in the order
// they were asked for, then one "total" line per kind and status) or one JSON object.
std::string OperationsReport(const std::filesystem::path& baseDir, platform::TDateTime day,
                             TReportFormat format);

}  // namespace kelvora::protocol
