// Calendar values and the 64-bit file-time scale (100-nanosecond units since 1 January
// 1601, local times taken as they stand). The arithmetic is our own and gives the same
// results as the platform's conversions for every date they accept; dates they refuse
// give nothing here too.
#pragma once

#include <cstdint>
#include <optional>

#include "common/system_calls.h"

namespace talvex {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

// Valid as the platform's conversion wants it: year 1601-30827, month 1-12, a day that
// exists in that month, hour 0-23, minute and second 0-59, milliseconds 0-999.
bool valid_calendar_time(const CalendarTime& t);

// The file time of a calendar value, or nothing when it is not a valid date and time.
std::optional<std::int64_t> file_time(const CalendarTime& t);

// The calendar value of a file time, or nothing for a negative (out of range) one.
std::optional<CalendarTime> calendar_time(std::int64_t ticks);

}  // namespace talvex
