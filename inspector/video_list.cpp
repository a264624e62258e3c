#include "inspector/video_list.h"

#include <algorithm>
#include <cstdint>

#include "inspector/calendar.h"

namespace talvex {
namespace {

// Field positions after the second underscore: offset and width.
struct Field {
  std::size_t offset;
  std::size_t width;
};
constexpr Field kStartFields[] = {{0, 4}, {5, 2}, {8, 2}, {11, 2}, {14, 2}, {17, 2}};
constexpr Field kEndFields[] = {{20, 4}, {25, 2}, {28, 2}, {31, 2}, {34, 2}, {37, 2}};
constexpr std::size_t kFieldsLength = 39;
constexpr std::size_t kMaximumNameLength = 99;

// Where the date and time fields begin, or nothing when the name has fewer than two
// underscores or not all of the fields.
std::optional<std::size_t> fields_start(std::string_view name) {
  const std::size_t first = name.find('_');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = name.find('_', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  if (name.size() - (second + 1) < kFieldsLength) return std::nullopt;
  return second + 1;
}

// The characters of a field as a C string would hold them (an embedded NUL ends it).
std::string_view field_text(std::string_view name, std::size_t base, Field f) {
  std::string_view text = name.substr(base + f.offset, f.width);
  return text.substr(0, text.find('\0'));
}

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "%d" of formatted input on a short text: leading blanks, an optional sign, at least one
// digit; the number ends at the first character that is not a digit.
std::optional<int> scan_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size() || !is_digit(text[i])) return std::nullopt;
  int value = 0;  // at most four digits: no overflow
  while (i < text.size() && is_digit(text[i])) value = value * 10 + (text[i++] - '0');
  return negative ? -value : value;
}

bool read_fields(std::string_view name, std::size_t base, const Field (&fields)[6],
                 CalendarTime& t) {
  int* targets[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second};
  for (int i = 0; i < 6; ++i) {
    const std::optional<int> value = scan_int(field_text(name, base, fields[i]));
    if (!value) return false;
    *targets[i] = *value;
  }
  t.milliseconds = 0;
  return true;
}

// As "%d" leaves a target it cannot convert: here 0, never an indeterminate value.
void read_fields_or_zero(std::string_view name, std::size_t base, const Field (&fields)[6],
                         CalendarTime& t) {
  int* targets[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second};
  for (int i = 0; i < 6; ++i) *targets[i] = scan_int(field_text(name, base, fields[i])).value_or(0);
  t.milliseconds = 0;
}

// "%s-%s-%s %s %s:%s:%s" with the field texts and the word "at".
std::string row_time_text(std::string_view name, std::size_t base, const Field (&f)[6]) {
  std::string text;
  text.append(field_text(name, base, f[0])).append("-");
  text.append(field_text(name, base, f[1])).append("-");
  text.append(field_text(name, base, f[2])).append(" at ");
  text.append(field_text(name, base, f[3])).append(":");
  text.append(field_text(name, base, f[4])).append(":");
  text.append(field_text(name, base, f[5]));
  return text;
}

CalendarTime date_with_time(const CalendarTime& date, const CalendarTime& time) {
  return CalendarTime{date.year, date.month, date.day, time.hour, time.minute, time.second, 0};
}

}  // namespace

CalendarTime FilterRange::lower() const { return date_with_time(start_date, start_time); }
CalendarTime FilterRange::upper() const { return date_with_time(end_date, end_time); }

FilterRange default_filter_range(const CalendarTime& now) {
  FilterRange range;
  range.start_date = CalendarTime{now.year, 1, 1, 0, 0, 0, 0};
  range.start_time = CalendarTime{now.year, 1, 1, 0, 0, 0, 0};
  range.end_date = CalendarTime{now.year, now.month, now.day, now.hour, now.minute, now.second, 0};
  range.end_time = range.end_date;
  return range;
}

std::optional<VideoTimes> read_video_times(std::string_view name) {
  const std::optional<std::size_t> base = fields_start(name);
  if (!base) return std::nullopt;
  VideoTimes times;
  if (!read_fields(name, *base, kStartFields, times.start)) return std::nullopt;
  if (!read_fields(name, *base, kEndFields, times.end)) return std::nullopt;
  return times;
}

bool video_in_range(std::string_view name, const CalendarTime& lower, const CalendarTime& upper) {
  const std::optional<VideoTimes> times = read_video_times(name);
  if (!times) return false;
  const std::optional<std::int64_t> start = file_time(times->start);
  const std::optional<std::int64_t> end = file_time(times->end);
  const std::optional<std::int64_t> low = file_time(lower);
  const std::optional<std::int64_t> high = file_time(upper);
  if (!start || !end || !low || !high) return false;
  return (*low <= *start && *start <= *high) || (*low <= *end && *end <= *high);
}

bool VideoTable::make_video_entry(std::string_view name, int slot, RowTexts* texts) {
  if (slot < 0 || slot >= kVideoSlots) return false;
  if (name.size() < kMinimumVideoNameLength || name.size() > kMaximumNameLength) return false;
  const std::optional<std::size_t> base = fields_start(name);
  if (!base) return false;

  VideoEntry& entry = slots[static_cast<std::size_t>(slot)];
  entry.file_name = name;
  const std::size_t first = name.find('_');
  std::string device(name.substr(first + 1, *base - 1 - (first + 1)));
  std::replace(device.begin(), device.end(), '-', ' ');
  entry.device_name = device;  // at most 99 - 51 = 48 characters: it always fits
  read_fields_or_zero(name, *base, kStartFields, entry.start);
  read_fields_or_zero(name, *base, kEndFields, entry.end);

  if (texts) {
    texts->start = row_time_text(name, *base, kStartFields);
    texts->end = row_time_text(name, *base, kEndFields);
    texts->device = entry.device_name.str();
  }
  return true;
}

int VideoTable::compare_start_times(int a, int b) const {
  const std::int64_t ta = file_time(slots[static_cast<std::size_t>(a)].start).value_or(0);
  const std::int64_t tb = file_time(slots[static_cast<std::size_t>(b)].start).value_or(0);
  return ta < tb ? 1 : -1;
}

void VideoTable::fill(const std::vector<std::string>& names, const FilterRange& range,
                      const std::function<bool(int slot, const RowTexts& texts)>& add_row) {
  listed_count = 0;
  const CalendarTime lower = range.lower();
  const CalendarTime upper = range.upper();
  // Every video in range, by its place in the enumeration and its start.
  struct Candidate {
    std::size_t index;
    std::int64_t start;
  };
  std::vector<Candidate> candidates;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name == kTemporaryRecording || name == kPlaybackCopy) continue;
    if (!video_in_range(name, lower, upper)) continue;
    if (!make_video_entry(name, 0, nullptr)) continue;  // the layout the slots take
    candidates.push_back({i, file_time(slots[0].start).value_or(0)});
  }
  // The newest first; equal starts keep their enumeration order.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.start > b.start; });
  // The newest hundred take the slots in their enumeration order, as the rows always came,
  // so that the list's sort orders them as before; a row the list refuses leaves its slot to
  // the next newest.
  const std::size_t chosen = std::min<std::size_t>(candidates.size(), kVideoSlots);
  std::stable_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(chosen),
                   [](const Candidate& a, const Candidate& b) { return a.index < b.index; });
  for (const Candidate& c : candidates) {
    if (listed_count == kVideoSlots) break;
    RowTexts texts;
    if (!make_video_entry(names[c.index], listed_count, &texts)) continue;
    if (add_row(listed_count, texts)) ++listed_count;
  }
}

std::vector<int> VideoTable::newest_first() const {
  std::vector<int> order;
  for (int slot = 0; slot < listed_count; ++slot) order.push_back(slot);
  // b after a exactly when b's start is earlier: newest first, equal starts kept in order.
  std::stable_sort(order.begin(), order.end(),
                   [this](int a, int b) { return compare_start_times(b, a) > 0; });
  return order;
}

}  // namespace talvex
