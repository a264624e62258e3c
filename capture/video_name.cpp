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

// Reads `digits` decimal digits at `at`, within [lowest, highest].
bool read_field(std::string_view text, std::size_t& at, std::size_t digits, int lowest, int highest,
                int& out) {
  if (text.size() - at < digits) return false;
  int value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < lowest || value > highest) return false;
  at += digits;
  out = value;
  return true;
}

bool read_char(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

bool read_date_time(std::string_view text, std::size_t& at, CalendarTime& t) {
  t = CalendarTime{};
  return read_field(text, at, 4, 1000, 9999, t.year) && read_char(text, at, '-') &&
         read_field(text, at, 2, 1, 12, t.month) && read_char(text, at, '-') &&
         read_field(text, at, 2, 1, 31, t.day) && read_char(text, at, '_') &&
         read_field(text, at, 2, 0, 23, t.hour) && read_char(text, at, '-') &&
         read_field(text, at, 2, 0, 59, t.minute) && read_char(text, at, '-') &&
         read_field(text, at, 2, 0, 59, t.second);
}

}  // namespace

bool parse_video_file_name(std::string_view name, CalendarTime& start, CalendarTime& end) {
  constexpr std::string_view kPrefix = "Talvex_Camera_";
  constexpr std::string_view kExtension = ".avi";
  if (name.substr(0, kPrefix.size()) != kPrefix) return false;
  std::size_t at = kPrefix.size();
  CalendarTime first, last;
  if (!read_date_time(name, at, first) || !read_char(name, at, '_') ||
      !read_date_time(name, at, last)) {
    return false;
  }
  // The same-name suffix: "_" and a number from 2 on, without leading zeros.
  if (at < name.size() && name[at] == '_') {
    ++at;
    const std::size_t digits_start = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
    const std::string_view digits = name.substr(digits_start, at - digits_start);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0' || digits == "1") return false;
  }
  if (name.substr(at) != kExtension) return false;
  start = first;
  end = last;
  return true;
}

std::string format_video_file_name(const CalendarTime& start, const CalendarTime& end) {
  return "Talvex_Camera_" + date_time(start) + "_" + date_time(end) + ".avi";
}

}  // namespace talvex
