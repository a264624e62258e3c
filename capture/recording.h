// Recordings: the capture graph's recorder writes "Talvex_tmp.avi" while a recording runs;
// stopping finishes it and renames it to the name of its start and end.
#pragma once

#include <string>

#include "capture/recording_stream.h"
#include "common/fixed_text.h"
#include "common/system_calls.h"

namespace talvex {

// What a recording needs of the capture graph: the recorder's stream of the graph built.
class RecordingGraph {
 public:
  virtual ~RecordingGraph() = default;
  virtual bool has_device() const = 0;  // false while the device is "<none>"
  // The recorder of the graph built; null without one.
  virtual RecordingStream* recording_stream() = 0;
};

// Start, stop and split of recordings, and their times, on the thread that owns the graph.
//
// A motion recording begins with the pre-event seconds the recorder kept; a continuous one
// begins at its start and is split at every whole hour. A stop saves the recording under
// its dated name (the time of its first frame to the stop); a second recording of the same
// seconds gets the next free name of the series ("..._2.avi"), never the first one's. A
// recording that cannot be saved leaves no dated file: 46 is logged once for it, and its
// temporary file is kept for the next start (which saves it first) or the next program
// start (which recovers it). A recording saved without some of its frames (the disk
// refused them and no clean-up could make room) is logged with 46 as well.
class Recorder {
 public:
  // Writes a log entry; true when it reached the log.
  using LogEntry = bool (*)(int number);
  static constexpr int kSaveFailed = 46;

  void set_log(LogEntry log) { log_ = log; }
  void start_recording(RecordingGraph& graph, bool motion = false, int pre_event = 0);
  void stop_recording(RecordingGraph& graph);
  // A split the recorder asked for (a continuous recording at the hour, or a file at its
  // size bound).
  void split_recording(RecordingGraph& graph);

  const CalendarTime& start_time() const { return start_time_; }
  const CalendarTime& end_time() const { return end_time_; }
  // The name under which the last stopped recording (or its last part) was saved.
  const std::string& last_video_name() const { return last_video_name_; }
  // Whether the last stop saved a recording under that name.
  bool last_saved() const { return saved_; }
  // A recording that could not be saved is in the temporary file, which must stay.
  bool keeps_temporary_file() const { return kept_; }
  // Failures not yet in the log (the log's disk may be the full one).
  int unlogged_failures() const { return unlogged_; }

 private:
  void failed() { ++unlogged_; }
  void log_failures();

  LogEntry log_ = nullptr;
  CalendarTime start_time_{};
  CalendarTime end_time_{};
  std::string last_video_name_;
  bool saved_ = false;
  bool recording_ = false;
  bool kept_ = false;
  int unlogged_ = 0;
  std::size_t lost_before_ = 0;  // the stream's lost frames when this recording began
};

}  // namespace talvex
