// The program's recordings, owned by the user-interface thread, which owns the capture
// graph: every start and stop runs there. The capture thread asks for motion recordings by
// request; a request made before a flag change or a graph rebuild is stale and dropped,
// so a start and a flag clear never interleave and no recording outlives its flags.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "app/settings.h"
#include "capture/recording.h"

namespace talvex {

enum class RecordingKind { kNone, kMotion, kContinuous };

class RecordingControl {
 public:
  RecordingControl(Settings& settings, Recorder& recorder)
      : settings_(settings), recorder_(recorder) {}

  // Any thread: the generation a request made now belongs to.
  unsigned generation() const { return generation_.load(); }

  // User-interface thread only from here on.
  // Makes every request asked for until now stale; called on each change of the flags
  // that steer the recordings and around each graph rebuild.
  void new_generation() { ++generation_; }
  // Starts a recording of this kind, first finishing one that runs.
  void start(RecordingGraph& graph, RecordingKind kind, unsigned generation = 0);
  // Finishes the running recording into its dated video; nothing when none runs.
  void stop(RecordingGraph& graph);
  // Does the split the graph's recorder asked for (by the graph's split message).
  void split(RecordingGraph& graph);
  // The capture thread's requests. A start is taken only while its generation is current,
  // motion detection is on, the flag it set is still set and no recording runs; a stop
  // only for the motion recording its start began.
  void request_start(RecordingGraph& graph, unsigned generation);
  void request_stop(RecordingGraph& graph, unsigned generation);

  RecordingKind running() const { return running_; }
  // Called with the video's name each time a motion recording was saved.
  void on_motion_saved(std::function<void(const std::string&)> handler) {
    motion_saved_ = std::move(handler);
  }
  // Requests are dropped while a rebuild runs (a graph call may dispatch messages).
  void set_rebuilding(bool on) { rebuilding_ = on; }
  bool rebuilding() const { return rebuilding_; }

 private:
  Settings& settings_;
  Recorder& recorder_;
  std::atomic<unsigned> generation_{1};
  RecordingKind running_ = RecordingKind::kNone;
  unsigned running_generation_ = 0;
  bool rebuilding_ = false;
  std::function<void(const std::string&)> motion_saved_;
};

}  // namespace talvex
