#include "capture/video_name.h"

#include <cstdio>

namespace talvex {
namespace {

// A two-digit field: "0%d" below 10, "%d" otherwise.
std::string two_digits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, value < 10 ? "0%d" : "%d", value);
  return text;
}

std::string date_time(const CalendarTime& t) {
  return std::to_string(t.year) + "-" + two_digits(t.month) + "-" + two_digits(t.day) + "_" +
         two_digits(t.hour) + "-" + two_digits(t.minute) + "-" + two_digits(t.second);
}

}  // namespace

std::string format_video_file_name(const CalendarTime& start, const CalendarTime& end) {
  return "Talvex_Camera_" + date_time(start) + "_" + date_time(end) + ".avi";
}

}  // namespace talvex
