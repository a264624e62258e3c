// The virtual cameras' frame size and rate, from the environment variables
// TALVEX_TESTCAM_SIZE ("WxH", e.g. "1920x1080") and TALVEX_TESTCAM_FPS.
#pragma once

#include <optional>

namespace talvex::filters {

inline constexpr int kDefaultWidth = 320;
inline constexpr int kDefaultHeight = 240;
inline constexpr int kDefaultFps = 15;
inline constexpr int kMaxSide = 4096;
inline constexpr int kMaxFps = 120;

struct FrameSize {
  int width = kDefaultWidth;
  int height = kDefaultHeight;
};

// "WxH" with 1 <= W, H <= kMaxSide (an 'X' also separates); nothing for anything else.
std::optional<FrameSize> parse_frame_size(const char* text);
// A whole number of frames per second, 1 to kMaxFps; nothing for anything else.
std::optional<int> parse_fps(const char* text);

struct CameraConfig {
  FrameSize size;
  int fps = kDefaultFps;
};

// Reads both texts (either may be null); what is missing or not understood keeps its default.
CameraConfig camera_config(const char* size_text, const char* fps_text);

}  // namespace talvex::filters
