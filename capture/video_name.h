// The name of a finished recording: the product word, "Camera", and the local date and
// time of its start and end, e.g. Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi.
#pragma once

#include <string>
#include <string_view>

#include "common/system_calls.h"

namespace talvex {

std::string format_video_file_name(const CalendarTime& start, const CalendarTime& end);

// Reads a name that format_video_file_name made, with or without the "_2", "_3" ... that a
// second recording of the same seconds gets: exactly that form, digits where digits belong
// and every field within its calendar range. Anything else, whatever a file system would
// make of it (another case, a short name, a trailing dot, a stream suffix), is refused.
bool parse_video_file_name(std::string_view name, CalendarTime& start, CalendarTime& end);

}  // namespace talvex
