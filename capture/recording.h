// Recordings: the capture graph writes "Talvex_tmp.avi" while a recording runs; stopping
// saves it under the name of its start and end.
#pragma once

#include <string>

#include "capture/recording_descriptor.h"
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
  // The media type of the stream into the temporary file, as connected; false when the
  // graph cannot tell.
  virtual bool capture_format(RecordingFormat& format) {
    (void)format;
    return false;
  }
};

// Start and stop of recordings, and their times. Callers hold the graph lock, so a start
// and a stop from the two threads never interleave.
//
// A recording starts with its descriptor beside the temporary file, so that a crash leaves
// it recoverable. A stop saves it under its dated name; a second recording of the same
// seconds gets the next free name of the series ("..._2.avi"), never the first one's. A
// recording that cannot be saved leaves no dated file: 46 is logged once for it, and its
// temporary file is kept (saved at the next start when there is room by then, or else
// recovered at the next program start).
class Recorder {
 public:
  // Writes a log entry; true when it reached the log.
  using LogEntry = bool (*)(int number);
  static constexpr int kSaveFailed = 46;

  void set_log(LogEntry log) { log_ = log; }
  void start_recording(RecordingGraph& graph);
  void stop_recording(RecordingGraph& graph);

  const CalendarTime& start_time() const { return start_time_; }
  const CalendarTime& end_time() const { return end_time_; }
  // The name under which the last stopped recording was saved.
  const std::string& last_video_name() const { return last_video_name_; }
  // Whether the last stop saved a recording under that name.
  bool last_saved() const { return saved_; }
  // A recording that could not be saved is in the temporary file, which must stay.
  bool keeps_temporary_file() const { return kept_; }
  // Failures not yet in the log (the log's disk may be the full one).
  int unlogged_failures() const { return unlogged_; }

 private:
  bool save(const CalendarTime& start, const CalendarTime& end);
  void failed();
  void log_failures();

  LogEntry log_ = nullptr;
  CalendarTime start_time_{};
  CalendarTime end_time_{};
  std::string last_video_name_;
  bool saved_ = false;
  bool recording_ = false;
  bool has_format_ = false;
  RecordingFormat format_;
  bool kept_ = false;
  CalendarTime kept_start_{}, kept_end_{};
  int unlogged_ = 0;
};

}  // namespace talvex
