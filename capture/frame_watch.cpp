#include "capture/frame_watch.h"

namespace talvex {

void FrameWatch::reset(Clock::time_point now) {
  silent_ = false;
  lost_ = false;
  last_samples_ = 0;
  last_frame_ = now;
}

void FrameWatch::graph_rebuilt(Clock::time_point now) {
  lost_ = false;
  last_samples_ = 0;
  last_frame_ = now;
}

FrameWatch::Action FrameWatch::go_silent(Clock::time_point now) {
  silent_ = true;
  last_retry_ = now;
  return Action::kStopped;
}

FrameWatch::Action FrameWatch::tick(Clock::time_point now, unsigned long samples, bool running) {
  const bool new_frame = running && samples != last_samples_;
  if (new_frame) {
    last_samples_ = samples;
    last_frame_ = now;
  }
  if (silent_) {
    if (new_frame && !lost_) {
      silent_ = false;
      return Action::kBack;
    }
    if (now - last_retry_ >= kRetryPeriod) {
      last_retry_ = now;
      return Action::kRetry;
    }
    return Action::kNone;
  }
  if (!running) {
    last_frame_ = now;  // no graph, no camera to miss
    return Action::kNone;
  }
  return now - last_frame_ >= kSilenceLimit ? go_silent(now) : Action::kNone;
}

FrameWatch::Action FrameWatch::device_lost(Clock::time_point now) {
  lost_ = true;
  return silent_ ? Action::kNone : go_silent(now);
}

}  // namespace talvex
