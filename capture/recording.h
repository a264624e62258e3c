// Recordings: the capture graph writes "Talvex_tmp.avi" while a recording runs; stopping
// copies it under the name of its start and end.
#pragma once

#include <string>

#include "common/fixed_text.h"
#include "common/system_calls.h"

namespace talvex {

// The graph operations a recording needs of the capture graph.
class RecordingGraph {
 public:
  virtual ~RecordingGraph() = default;
  virtual bool has_device() const = 0;  // false while the device is "<none>"
  virtual void stop() = 0;
  virtual void run() = 0;
  // Lets the capture stream flow into the temporary file from now on, written anew.
  virtual void let_capture_flow() = 0;
  // Holds the capture stream off; the temporary file is complete after stop().
  virtual void hold_capture_off() = 0;
  // Re-creates the temporary file for the next recording.
  virtual void recreate_capture_file() = 0;
};

// Start and stop of recordings, and their times. Callers hold the graph lock, so a start
// and a stop from the two threads never interleave.
class Recorder {
 public:
  void start_recording(RecordingGraph& graph);
  void stop_recording(RecordingGraph& graph);

  const CalendarTime& start_time() const { return start_time_; }
  const CalendarTime& end_time() const { return end_time_; }
  // The name under which the last stopped recording was copied.
  const std::string& last_video_name() const { return last_video_name_; }

 private:
  CalendarTime start_time_{};
  CalendarTime end_time_{};
  std::string last_video_name_;
};

}  // namespace talvex
