// Any file name the folder may hold goes through the video list's reading of names and the
// clean-up's choice of deletable videos: it is either read correctly or refused, and never
// read outside its own characters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capture/video_cleanup.h"
#include "inspector/calendar.h"
#include "inspector/video_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talvex;
  // A heap copy of exactly the name's bytes, so that any read past it is caught.
  std::vector<char> bytes(data, data + size);
  const std::string_view name(bytes.data(), bytes.size());

  const CalendarTime lower{2006, 1, 1, 0, 0, 0, 0};
  const CalendarTime upper{2006, 12, 31, 23, 59, 59, 0};
  const bool in_range = video_in_range(name, lower, upper);

  static VideoTable table;
  RowTexts texts;
  const bool entered = table.make_video_entry(name, 0, &texts);
  if (entered) {
    if (size < kMinimumVideoNameLength || size > 99) __builtin_trap();
    if (table.slots[0].device_name.length() > 75) __builtin_trap();
    if (texts.start.size() > 24 || texts.end.size() > 24) __builtin_trap();
  }
  if (in_range) {
    const auto times = read_video_times(name);
    if (!times || !file_time(times->start) || !file_time(times->end)) __builtin_trap();
  }
  // The whole scan with this name among well-formed ones.
  table.fill({std::string(name), "Talvex_Camera_2006-03-07_09-05-00_2006-03-07_09-05-30.avi"},
             FilterRange{lower, lower, upper, upper}, [](int, const RowTexts&) { return true; });
  if (table.listed_count > 2) __builtin_trap();
  (void)table.newest_first();

  // The clean-up takes only names the program writes, and only when not read-only.
  const std::vector<FolderEntry> entries = {
      {std::string(name), size, false},
      {std::string(name), size, true},
      {"Talvex_Camera_2006-03-07_09-05-00_2006-03-07_09-05-30.avi", 1, false}};
  const std::vector<StoredVideo> videos = deletable_videos(entries);
  if (videos.empty() || videos.size() > 2) __builtin_trap();
  if (videos.size() == 2 && name.substr(0, 14) != "Talvex_Camera_") __builtin_trap();
  for (const StoredVideo& v : videos) {
    if (calendar_seconds(v.start) < calendar_seconds({1000, 1, 1, 0, 0, 0, 0})) __builtin_trap();
  }
  (void)recording_rate(videos);
  return 0;
}
