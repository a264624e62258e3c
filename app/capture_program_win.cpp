#include "app/capture_program_win.h"

#include "app/log.h"
#include "app/talvex_messages.h"

namespace talvex {
namespace {

using Clock = FrameWatch::Clock;

// The camera went silent: said once, the recording finished as a stop would, the passes
// quiet until frames come back.
void camera_stopped() {
  CaptureProgram& p = program();
  Settings& s = p.settings;
  log_message(msg::kCameraStopped);
  p.camera_silent = true;
  p.dropout_device = s.video_device.str();
  p.dropout_compressor = s.compressor.str();
  p.dropout_compression = s.compression_enabled;
  s.motion_recording = false;
  stop_recording();
}

// Another try at the device the user chose, as the dialogs rebuild the graph. What the
// attempt finds is not logged, and the user's choice stays as it was.
void camera_retry() {
  CaptureProgram& p = program();
  Settings& s = p.settings;
  p.reconnecting = true;
  p.recordings.new_generation();
  release_capture_graph();
  s.compression_enabled = p.dropout_compression;
  if (build_capture_graph(p.dropout_device.c_str(), p.dropout_compressor.c_str()) != msg::kOk) {
    release_capture_graph();
    s.video_device = p.dropout_device;
    s.compressor = p.dropout_compressor;
    s.compression_enabled = p.dropout_compression;
  }
  p.reconnecting = false;
  p.frame_watch.graph_rebuilt(Clock::now());
}

void camera_back() {
  CaptureProgram& p = program();
  log_message(msg::kCameraBack);
  p.warm_up.start(Clock::now());
  p.camera_silent = false;
  if (p.settings.capture_video) start_recording();
}

void act(FrameWatch::Action action) {
  switch (action) {
    case FrameWatch::Action::kStopped:
      camera_stopped();
      break;
    case FrameWatch::Action::kRetry:
      camera_retry();
      break;
    case FrameWatch::Action::kBack:
      camera_back();
      break;
    case FrameWatch::Action::kNone:
      break;
  }
}

}  // namespace

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

void split_recording() {
  CaptureProgram& p = program();
  if (!p.graph) return;
  p.recordings.split(*p.graph);
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

void log_graph_message(int number) {
  if (!program().reconnecting) log_message(number);
}

void graph_chosen() {
  CaptureProgram& p = program();
  p.frame_watch.reset(Clock::now());
  p.camera_silent = false;
  p.live_frames.set_device(p.settings.video_device.str());
}

int apply_live_view() {
  CaptureProgram& p = program();
  const EventTexts texts = p.settings.event_texts();
  LiveViewConfig config;
  config.port = p.settings.web_port;
  config.account =
      DigestAccount{texts.web_user.str(), texts.web_realm.str(), texts.web_password.str()};
  const LiveViewConfig& now = p.live_view_config;
  const bool same = config.port == now.port && config.account.user == now.account.user &&
                    config.account.realm == now.account.realm &&
                    config.account.password_digest == now.account.password_digest;
  if (same && (config.port == 0 || (p.live_view && p.live_view->running()))) return msg::kOk;
  if (p.live_view) p.live_view->stop();
  p.live_view_config = config;
  if (config.port == 0) return msg::kOk;
  if (!p.live_view) {
    p.live_view = std::make_unique<LiveViewServer>(p.live_frames, [] {
      CaptureProgram& q = program();
      LiveStatus status;
      status.device = q.live_frames.device();
      status.camera_sending = !(status.device == kNoneName) && !q.camera_silent;
      status.motion_enabled = q.settings.motion_enabled;
      return status;
    });
  }
  return p.live_view->start(config);
}

void watch_frames() {
  CaptureProgram& p = program();
  if (!p.graph || p.recordings.rebuilding() || p.reconnecting) return;
  const bool running = p.graph->built() && p.graph->has_device();
  act(p.frame_watch.tick(Clock::now(), p.graph->sample_count(), running));
}

void take_graph_events() {
  CaptureProgram& p = program();
  if (!p.graph || !p.graph->take_device_lost_events()) return;
  if (p.recordings.rebuilding() || p.reconnecting) return;
  act(p.frame_watch.device_lost(Clock::now()));
}

void release_capture_graph() {
  CaptureProgram& p = program();
  if (p.graph) p.graph->release();
}

int build_capture_graph(const char* device_name, const char* compressor_name) {
  CaptureProgram& p = program();
  const int result = p.graph->build(device_name, compressor_name);
  p.warm_up.start(Clock::now());
  return result;
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
