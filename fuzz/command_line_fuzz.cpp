// The inspector's command line: any text gives options whose values fit their fields.
#include <cstddef>
#include <cstdint>
#include <string>

#include "inspector/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // up to the first NUL
  const talvex::InspectorOptions o = talvex::parse_command_line(text.c_str());
  if (o.video_folder && o.video_folder->size() > talvex::kVideoFolderLimit) __builtin_trap();
  if (o.window_title && o.window_title->size() > talvex::kWindowTitleLimit) __builtin_trap();
  if (o.video_folder && o.video_folder->find('-') != std::string::npos) __builtin_trap();
  return 0;
}
