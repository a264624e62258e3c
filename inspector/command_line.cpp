#include "inspector/command_line.h"

#include <cstring>
#include <string_view>

namespace talvex {
namespace {

// From `from` up to the next "-" or the end, cut to what its 256-byte buffer holds.
std::string option_value(std::string_view text, std::size_t from) {
  std::string_view rest = text.substr(from);
  rest = rest.substr(0, rest.find('-'));
  return std::string(rest.substr(0, kOptionValueLimit));
}

}  // namespace

InspectorOptions parse_command_line(const char* text) {
  InspectorOptions options;
  if (text == nullptr) return options;
  const std::string_view line(text, std::strlen(text));
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] != '-') continue;
    switch (line[i + 1]) {
      case 'o': {
        // Measured before the value's own cut, so an overlong folder is never half taken.
        std::string_view rest = line.substr(i + 2);
        rest = rest.substr(0, rest.find('-'));
        if (rest.size() <= kVideoFolderLimit) options.video_folder = std::string(rest);
        break;
      }
      case 't': {
        std::string title = std::string(kInspectorCaption) + " - " + option_value(line, i + 2);
        if (title.size() > kWindowTitleLimit) title.resize(kWindowTitleLimit);
        options.window_title = title;
        break;
      }
      case 'g':
        options.save_graph = true;
        break;
      default:
        break;
    }
  }
  return options;
}

}  // namespace talvex
