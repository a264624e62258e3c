#include "capture/recording.h"

#include "capture/video_name.h"

namespace talvex {

void Recorder::start_recording(RecordingGraph& graph, bool motion, int pre_event) {
  if (!graph.has_device()) return;
  log_failures();
  RecordingStream* stream = graph.recording_stream();
  if (!stream) return;
  start_time_ = system_calls().local_time();
  stream->set_pre_event(pre_event);
  // A start that cannot write a new file (a kept recording that cannot be made safe, a
  // full disk) loses the recording: reported like a save that failed.
  lost_before_ = stream->lost_frames();
  recording_ =
      stream->start(motion ? RecordingStream::Kind::kMotion : RecordingStream::Kind::kContinuous);
  // A start made the kept file safe (saved or set aside) before it wrote a new one.
  if (recording_) kept_ = false;
  if (!recording_) failed();
  log_failures();
}

void Recorder::stop_recording(RecordingGraph& graph) {
  if (!graph.has_device()) return;
  end_time_ = system_calls().local_time();
  last_video_name_ = format_video_file_name(start_time_, end_time_);
  saved_ = false;
  RecordingStream* stream = graph.recording_stream();
  // A stop without a recording has nothing of its own to save.
  if (recording_ && stream) {
    std::string name;
    if (!stream->stop(name)) {
      kept_ = true;
      failed();
    } else {
      if (!name.empty()) {
        last_video_name_ = name;
        saved_ = true;
      }
      // Frames the disk refused (and no clean-up could make room for) are not in it.
      if (stream->lost_frames() > lost_before_) failed();
    }
  }
  recording_ = false;
  log_failures();
}

void Recorder::split_recording(RecordingGraph& graph) {
  RecordingStream* stream = graph.has_device() ? graph.recording_stream() : nullptr;
  if (!recording_ || !stream) return;
  std::string name;
  const bool saved = stream->split(name);
  if (!name.empty()) last_video_name_ = name;
  if (saved && stream->lost_frames() > lost_before_) failed();
  lost_before_ = stream->lost_frames();
  if (!saved) {
    kept_ = true;
    failed();
    // The recording ended there; what was written waits in the temporary file.
    recording_ = stream->recording();
  }
  log_failures();
}

void Recorder::log_failures() {
  while (unlogged_ > 0 && log_ && log_(kSaveFailed)) --unlogged_;
}

}  // namespace talvex
