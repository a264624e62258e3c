// The name of a finished recording: the product word, "Camera", and the local date and
// time of its start and end, e.g. Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi.
#pragma once

#include <string>

#include "common/system_calls.h"

namespace talvex {

std::string format_video_file_name(const CalendarTime& start, const CalendarTime& end);

}  // namespace talvex
