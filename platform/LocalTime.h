// The system's time-zone rules behind the date-time values: a moment broken down into its local
// or UTC calendar, and a local calendar time turned back into a moment.
#pragma once

#include <ctime>
#include <optional>

namespace kelvora::platform {

// The calendar fields of a moment, in UTC or in the local time zone (daylight saving included).
// False when the system cannot convert the moment.
bool BreakDownTime(std::time_t seconds, bool utc, std::tm& calendar);

// The moment of a local calendar time (year, month, day, hour, minute, second); nullopt for a
// local time that does not exist, inside a daylight-saving gap, or that the system cannot convert.
std::optional<std::time_t> LocalCalendarToTime(const std::tm& local);

}  // namespace kelvora::platform
