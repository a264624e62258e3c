#include "app/capture_program_win.h"

namespace talvex {

CaptureProgram& program() {
  static CaptureProgram state;
  return state;
}

void start_recording() {
  CaptureProgram& p = program();
  if (!p.graph) return;
  p.recordings.new_generation();
  p.recordings.start(*p.graph, RecordingKind::kContinuous);
}

void stop_recording() {
  CaptureProgram& p = program();
  if (!p.graph) return;
  p.recordings.new_generation();
  p.recordings.stop(*p.graph);
}

void handle_recording_request(WPARAM start, LPARAM generation) {
  CaptureProgram& p = program();
  if (!p.graph) return;
  const auto tag = static_cast<unsigned>(generation);
  if (start) {
    p.recordings.request_start(*p.graph, tag);
  } else {
    p.recordings.request_stop(*p.graph, tag);
  }
}

void release_capture_graph() {
  CaptureProgram& p = program();
  if (p.graph) p.graph->release();
}

int build_capture_graph(const char* device_name, const char* compressor_name) {
  return program().graph->build(device_name, compressor_name);
}

PausedCapture::PausedCapture() {
  CaptureProgram& p = program();
  Settings& s = p.settings;
  p.recordings.new_generation();
  p.recordings.set_rebuilding(true);
  capture_frames_ = s.capture_frames;
  capture_video_ = s.capture_video;
  motion_enabled_ = s.motion_enabled;
  s.capture_frames = false;
  if (s.capture_video.exchange(false)) stop_recording();
  s.motion_enabled = false;
  s.motion_recording = false;
  // Whatever still runs (a motion recording whose stop is on its way) ends with this graph.
  stop_recording();
}

PausedCapture::~PausedCapture() {
  CaptureProgram& p = program();
  Settings& s = p.settings;
  p.recordings.set_rebuilding(false);
  p.recordings.new_generation();
  s.capture_frames = capture_frames_;
  s.capture_video = capture_video_;
  if (capture_video_) start_recording();
  s.motion_enabled = motion_enabled_;
}

}  // namespace talvex
