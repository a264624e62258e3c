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

// A drop-out of every test camera, from TALVEX_TESTCAM_DROPOUT "A,B" or "A,B,lost": no
// frame from A to A+B seconds after the process started. "A,B" freezes the stream, which
// comes back on the same graph; "lost" unplugs the device: an instance running at A stops
// for good and reports the loss, instances started before A+B deliver nothing, and later
// ones work again.
inline constexpr double kMaxDropoutSeconds = 1e6;
struct Dropout {
  double start_seconds = 0;
  double length_seconds = 0;
  bool lost = false;
};
// Two decimal numbers of seconds (0 to kMaxDropoutSeconds, the length above 0), and
// optionally ",lost"; nothing for anything else.
std::optional<Dropout> parse_dropout(const char* text);

// What an instance does at `seconds` after the process started, having started its run
// at `run_started_seconds`.
enum class DropoutState { kDelivering, kSilent, kLostNow };
DropoutState dropout_state(const Dropout& dropout, double run_started_seconds, double seconds);

struct CameraConfig {
  FrameSize size;
  int fps = kDefaultFps;
  std::optional<Dropout> dropout;
};

// Reads the texts (any may be null); what is missing or not understood keeps its default.
CameraConfig camera_config(const char* size_text, const char* fps_text,
                           const char* dropout_text = nullptr);

}  // namespace talvex::filters
