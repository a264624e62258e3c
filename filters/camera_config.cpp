#include "filters/camera_config.h"

namespace talvex::filters {

namespace {

// Reads a decimal number of at most 5 digits at `p`, advancing it.
std::optional<int> read_number(const char*& p) {
  int value = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    if (++digits > 5) return std::nullopt;
    value = value * 10 + (*p - '0');
    ++p;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

}  // namespace

std::optional<FrameSize> parse_frame_size(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  const auto width = read_number(p);
  if (!width || (*p != 'x' && *p != 'X')) return std::nullopt;
  ++p;
  const auto height = read_number(p);
  if (!height || *p != '\0') return std::nullopt;
  if (*width < 1 || *width > kMaxSide || *height < 1 || *height > kMaxSide) return std::nullopt;
  return FrameSize{*width, *height};
}

std::optional<int> parse_fps(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  const auto fps = read_number(p);
  if (!fps || *p != '\0' || *fps < 1 || *fps > kMaxFps) return std::nullopt;
  return fps;
}

CameraConfig camera_config(const char* size_text, const char* fps_text) {
  CameraConfig config;
  if (const auto size = parse_frame_size(size_text)) config.size = *size;
  if (const auto fps = parse_fps(fps_text)) config.fps = *fps;
  return config;
}

}  // namespace talvex::filters
