#include "app/capture_program_win.h"

#include <mutex>

namespace talvex {

CaptureProgram& program() {
  static CaptureProgram state;
  return state;
}

void start_recording() {
  CaptureProgram& p = program();
  if (!p.graph) return;
  std::lock_guard<std::mutex> lock(p.graph->graph_lock);
  p.recorder.start_recording(*p.graph);
}

void stop_recording() {
  CaptureProgram& p = program();
  if (!p.graph) return;
  std::lock_guard<std::mutex> lock(p.graph->graph_lock);
  p.recorder.stop_recording(*p.graph);
}

void release_capture_graph() {
  CaptureProgram& p = program();
  if (!p.graph) return;
  std::lock_guard<std::mutex> lock(p.graph->graph_lock);
  p.graph->release();
}

int build_capture_graph(const char* device_name, const char* compressor_name) {
  CaptureProgram& p = program();
  std::lock_guard<std::mutex> lock(p.graph->graph_lock);
  return p.graph->build(device_name, compressor_name);
}

PausedCapture::PausedCapture() {
  Settings& s = program().settings;
  capture_frames_ = s.capture_frames;
  capture_video_ = s.capture_video;
  motion_enabled_ = s.motion_enabled;
  s.capture_frames = false;
  if (s.capture_video.exchange(false)) stop_recording();
  s.motion_enabled = false;
  if (s.motion_recording.exchange(false)) stop_recording();
}

PausedCapture::~PausedCapture() {
  Settings& s = program().settings;
  s.capture_frames = capture_frames_;
  s.capture_video = capture_video_;
  if (capture_video_) start_recording();
  s.motion_enabled = motion_enabled_;
}

}  // namespace talvex
