#include "capture/recording_control.h"

namespace talvex {

void RecordingControl::start(RecordingGraph& graph, RecordingKind kind, unsigned generation) {
  stop(graph);
  if (!graph.has_device()) return;
  recorder_.start_recording(graph, kind == RecordingKind::kMotion, settings_.pre_event.load());
  running_ = kind;
  running_generation_ = generation;
}

void RecordingControl::stop(RecordingGraph& graph) {
  if (running_ == RecordingKind::kNone) return;
  const RecordingKind kind = running_;
  running_ = RecordingKind::kNone;
  recorder_.stop_recording(graph);
  if (kind == RecordingKind::kMotion && recorder_.last_saved() && motion_saved_) {
    motion_saved_(recorder_.last_video_name());
  }
}

void RecordingControl::split(RecordingGraph& graph) {
  if (running_ == RecordingKind::kNone) return;
  recorder_.split_recording(graph);
}

void RecordingControl::request_start(RecordingGraph& graph, unsigned generation) {
  const bool current = generation == generation_.load() && !rebuilding_;
  if (current && settings_.motion_enabled && settings_.motion_recording &&
      running_ == RecordingKind::kNone) {
    start(graph, RecordingKind::kMotion, generation);
    return;
  }
  // Dropped: a flag left set by it would only keep detection off for a recording that
  // does not run.
  if (running_ != RecordingKind::kMotion) settings_.motion_recording = false;
}

void RecordingControl::request_stop(RecordingGraph& graph, unsigned generation) {
  if (running_ == RecordingKind::kMotion && running_generation_ == generation) stop(graph);
}

}  // namespace talvex
