// The inspector's command line: "-o<folder>", "-t<title>" and "-g", in any order.
#pragma once

#include <optional>
#include <string>

namespace talvex {

constexpr char kInspectorCaption[] = "Talvex Inspector";
constexpr std::size_t kOptionValueLimit = 255;  // a value's buffer holds 256 bytes
constexpr std::size_t kVideoFolderLimit = 99;
constexpr std::size_t kWindowTitleLimit = 99;

struct InspectorOptions {
  // The folder of "-o". A value longer than the video folder can hold is refused (a cut
  // path would name another folder) and leaves an earlier "-o", if any, in force.
  std::optional<std::string> video_folder;
  // The caption, " - " and the value of "-t"; cut to 99 characters.
  std::optional<std::string> window_title;
  bool save_graph = false;
};

// Scans every "-" followed by o, t or g; a value runs from after the letter up to the next
// "-" or the end, blanks included. A later option overrides an earlier one. A null or empty
// text gives no options.
InspectorOptions parse_command_line(const char* text);

}  // namespace talvex
