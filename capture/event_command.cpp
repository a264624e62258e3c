#include "capture/event_command.h"

namespace talvex {

std::string event_command_line(std::string_view command, std::string_view video_name) {
  std::string line;
  for (std::size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '%' && i + 1 < command.size()) {
      if (command[i + 1] == 'f') {
        line.append("\"").append(video_name).append("\"");
        ++i;
        continue;
      }
      if (command[i + 1] == '%') {
        line += '%';
        ++i;
        continue;
      }
    }
    line += command[i];
  }
  return line;
}

}  // namespace talvex
