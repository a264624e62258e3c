// Any text as TALVEX_TESTCAM_SIZE, TALVEX_TESTCAM_FPS and TALVEX_TESTCAM_DROPOUT (one a
// line): the settings stay in range.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filters/camera_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talvex::filters;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string::size_type split = text.find('\n');
  const std::string size_text = text.substr(0, split);
  const std::string rest = split == std::string::npos ? "" : text.substr(split + 1);
  const std::string::size_type second = rest.find('\n');
  const std::string fps_text = rest.substr(0, second);
  const std::string dropout_text = second == std::string::npos ? "" : rest.substr(second + 1);
  const CameraConfig config =
      camera_config(size_text.c_str(), fps_text.c_str(), dropout_text.c_str());
  if (config.dropout &&
      !(config.dropout->start_seconds >= 0 && config.dropout->start_seconds <= kMaxDropoutSeconds &&
        config.dropout->length_seconds > 0 &&
        config.dropout->length_seconds <= kMaxDropoutSeconds)) {
    std::abort();
  }
  if (config.size.width < 1 || config.size.width > kMaxSide || config.size.height < 1 ||
      config.size.height > kMaxSide || config.fps < 1 || config.fps > kMaxFps) {
    std::abort();
  }
  return 0;
}
