// The inspector's video list without its window: the recorded videos of the folder, read
// from their names, filtered by a date and time range, the newest 100, newest first.
//
// A video name as the capture program writes it:
//   Talvex_<device>_<yyyy>-<mm>-<dd>_<hh>-<mm>-<ss>_<yyyy>-<mm>-<dd>_<hh>-<mm>-<ss>.avi
// The date and time fields are read at fixed positions after the second underscore.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fixed_text.h"
#include "common/system_calls.h"

namespace talvex {

constexpr int kVideoSlots = 100;
constexpr std::size_t kMinimumVideoNameLength = 51;
constexpr char kVideoPattern[] = "Talvex_*.avi";
constexpr char kTemporaryRecording[] = "Talvex_tmp.avi";
constexpr char kPlaybackCopy[] = "Talvex_insp.avi";

struct VideoEntry {
  FixedText<100> file_name;   // bare name, at most 99 characters
  FixedText<76> device_name;  // the device part, "-" shown as blanks
  CalendarTime start;         // milliseconds always 0
  CalendarTime end;
};

// The three texts of a list row.
struct RowTexts {
  std::string start;  // "2006-03-07 at 09:05:00", the characters as they stand in the name
  std::string end;
  std::string device;
};

// The date and time range of the filter. Only the date of the *_date values and the time
// of the *_time values count.
struct FilterRange {
  CalendarTime start_date;
  CalendarTime start_time;
  CalendarTime end_date;
  CalendarTime end_time;

  CalendarTime lower() const;
  CalendarTime upper() const;
};

// 1 January of `now`'s year at 00:00:00 up to `now`, to the second.
FilterRange default_filter_range(const CalendarTime& now);

// The start and end read out of a name, each field as "%d" converts it (leading blanks and
// a sign accepted); nothing when the name is too short for the layout or a field holds no
// number.
struct VideoTimes {
  CalendarTime start;
  CalendarTime end;
};
std::optional<VideoTimes> read_video_times(std::string_view name);

// Whether the video's start or end lies within [lower, upper], both inclusive to the
// second. A name without the layout, or whose start or end is not a valid date and time,
// is never in range.
bool video_in_range(std::string_view name, const CalendarTime& lower, const CalendarTime& upper);

class VideoTable {
 public:
  std::array<VideoEntry, kVideoSlots> slots{};
  int listed_count = 0;
  int inspected_slot = -1;

  // Fills `slot` from the name and makes the row texts. Fails, touching nothing, for a
  // slot outside 0..99, a name shorter than 51 characters, a name of 100 characters or
  // more (it does not fit the entry), or a name without two underscores and the fields
  // after the second one.
  bool make_video_entry(std::string_view name, int slot, RowTexts* texts);

  // 1 when a's start is earlier than b's (a goes after b), -1 otherwise.
  int compare_start_times(int a, int b) const;

  // Rebuilds the table from the names of the folder: skips the temporary recording and the
  // playback copy, keeps the names in range, and of them the 100 newest by their start
  // (equal starts in enumeration order), whatever order the folder gives its names in. The
  // chosen ones take the slots in enumeration order. `add_row(slot, texts)` shows each kept
  // video; a slot counts only when it returns true, and is then offered to the next newest.
  void fill(const std::vector<std::string>& names, const FilterRange& range,
            const std::function<bool(int slot, const RowTexts& texts)>& add_row);

  // The listed slots newest start first, as the list shows them.
  std::vector<int> newest_first() const;
};

}  // namespace talvex
