#include "capture/recording.h"

#include "capture/video_name.h"
#include "capture/working_files.h"

namespace talvex {

void Recorder::start_recording(RecordingGraph& graph) {
  if (!graph.has_device()) return;
  graph.stop();
  graph.let_capture_flow();
  start_time_ = system_calls().local_time();
  graph.run();
}

void Recorder::stop_recording(RecordingGraph& graph) {
  if (!graph.has_device()) return;
  graph.stop();
  end_time_ = system_calls().local_time();
  last_video_name_ = format_video_file_name(start_time_, end_time_);
  system_calls().copy_file(kTempRecordingName, last_video_name_.c_str());
  graph.recreate_capture_file();
  graph.hold_capture_off();
  graph.run();
}

}  // namespace talvex
