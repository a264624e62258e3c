// Any text as TALVEX_TESTCAM_SIZE and TALVEX_TESTCAM_FPS: the settings stay in range.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filters/camera_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talvex::filters;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string::size_type split = text.find('\n');
  const std::string size_text = text.substr(0, split);
  const std::string fps_text = split == std::string::npos ? "" : text.substr(split + 1);
  const CameraConfig config = camera_config(size_text.c_str(), fps_text.c_str());
  if (config.size.width < 1 || config.size.width > kMaxSide || config.size.height < 1 ||
      config.size.height > kMaxSide || config.fps < 1 || config.fps > kMaxFps) {
    std::abort();
  }
  return 0;
}
