#include "capture/recording.h"

#include "capture/avi_recovery.h"
#include "capture/video_name.h"
#include "capture/working_files.h"

namespace talvex {

void Recorder::start_recording(RecordingGraph& graph) {
  if (!graph.has_device()) return;
  log_failures();
  // A recording that failed to save is tried once more before the file is written anew.
  if (kept_) {
    kept_ = false;
    save(kept_start_, kept_end_);
  }
  graph.stop();
  graph.let_capture_flow();
  start_time_ = system_calls().local_time();
  // The old descriptor goes first: it must never describe the new file.
  system_calls().remove_file(kRecordingDescriptorName);
  has_format_ = graph.capture_format(format_);
  if (has_format_) write_descriptor_file(RecordingDescriptor{format_, start_time_});
  recording_ = true;
  graph.run();
}

void Recorder::stop_recording(RecordingGraph& graph) {
  if (!graph.has_device()) return;
  graph.stop();
  end_time_ = system_calls().local_time();
  last_video_name_ = format_video_file_name(start_time_, end_time_);
  saved_ = false;
  // A stop without a recording has nothing of its own to save.
  if (recording_) {
    recording_ = false;
    if (!save(start_time_, end_time_)) {
      std::uint64_t size;
      CalendarTime written;
      kept_ = system_calls().file_status(kTempRecordingName, size, written);
      kept_start_ = start_time_;
      kept_end_ = end_time_;
      failed();
    }
  }
  graph.recreate_capture_file();
  graph.hold_capture_off();
  graph.run();
  log_failures();
}

bool Recorder::save(const CalendarTime& start, const CalendarTime& end) {
  std::string name;
  std::size_t frames = 0;
  if (!save_temporary_recording(has_format_ ? &format_ : nullptr, start, end, name, frames)) {
    return false;
  }
  last_video_name_ = name;
  saved_ = true;
  // Saved: nothing is left for a recovery to find.
  system_calls().remove_file(kTempRecordingName);
  system_calls().remove_file(kRecordingDescriptorName);
  return true;
}

void Recorder::failed() { ++unlogged_; }

void Recorder::log_failures() {
  while (unlogged_ > 0 && log_ && log_(kSaveFailed)) --unlogged_;
}

}  // namespace talvex
