#include "filters/camera_config.h"

#include <string_view>

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

std::optional<Dropout> parse_dropout(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  // Seconds with an optional fraction of at most 6 digits.
  auto seconds = [&p]() -> std::optional<double> {
    const auto whole = read_number(p);
    if (!whole) return std::nullopt;
    double value = *whole;
    if (*p == '.') {
      ++p;
      double scale = 0.1;
      int digits = 0;
      while (*p >= '0' && *p <= '9') {
        if (++digits > 6) return std::nullopt;
        value += (*p - '0') * scale;
        scale /= 10;
        ++p;
      }
      if (digits == 0) return std::nullopt;
    }
    return value;
  };
  Dropout dropout;
  const auto start = seconds();
  if (!start || *p != ',') return std::nullopt;
  ++p;
  const auto length = seconds();
  if (!length) return std::nullopt;
  if (*p == ',') {
    ++p;
    if (std::string_view(p) != "lost") return std::nullopt;
    dropout.lost = true;
  } else if (*p != '\0') {
    return std::nullopt;
  }
  if (*start > kMaxDropoutSeconds || *length <= 0 || *length > kMaxDropoutSeconds) {
    return std::nullopt;
  }
  dropout.start_seconds = *start;
  dropout.length_seconds = *length;
  return dropout;
}

DropoutState dropout_state(const Dropout& dropout, double run_started_seconds, double seconds) {
  const double end = dropout.start_seconds + dropout.length_seconds;
  if (!dropout.lost) {
    return seconds >= dropout.start_seconds && seconds < end ? DropoutState::kSilent
                                                             : DropoutState::kDelivering;
  }
  // Unplugged: a run begun before the loss ends with it; one begun while the device is
  // away never sees a frame; one begun after it came back works.
  if (run_started_seconds >= end) return DropoutState::kDelivering;
  if (run_started_seconds < dropout.start_seconds) {
    return seconds < dropout.start_seconds ? DropoutState::kDelivering : DropoutState::kLostNow;
  }
  return DropoutState::kSilent;
}

CameraConfig camera_config(const char* size_text, const char* fps_text, const char* dropout_text) {
  CameraConfig config;
  if (const auto size = parse_frame_size(size_text)) config.size = *size;
  if (const auto fps = parse_fps(fps_text)) config.fps = *fps;
  config.dropout = parse_dropout(dropout_text);
  return config;
}

}  // namespace talvex::filters
