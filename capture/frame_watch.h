// Whether the camera still sends frames. The user-interface thread feeds it the graph's
// sample count on a timer and the graph's device-lost events; it says when the camera
// went silent (no new frame for kSilenceLimit while the graph runs, or the device lost),
// when to try the device again (every kRetryPeriod while it is silent), and when frames
// came back. One drop-out gives one "stopped" and one "back", whatever the retries did.
#pragma once

#include <chrono>

namespace talvex {

class FrameWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kSilenceLimit = std::chrono::seconds(3);
  static constexpr Clock::duration kRetryPeriod = std::chrono::seconds(5);

  enum class Action {
    kNone,
    kStopped,  // the camera went silent: say so, finish the recording, quiet the passes
    kRetry,    // rebuild the graph for the same device
    kBack,     // a new frame arrived: say so and resume
  };

  // A graph the user (or the start) chose: whatever was silent is forgotten.
  void reset(Clock::time_point now);
  // A graph rebuilt by a retry: its sample count starts again from 0.
  void graph_rebuilt(Clock::time_point now);
  // `samples`: the running graph's sample count; `running`: whether a graph runs at all.
  Action tick(Clock::time_point now, unsigned long samples, bool running);
  // The graph reported its device lost.
  Action device_lost(Clock::time_point now);
  bool silent() const { return silent_; }

 private:
  Action go_silent(Clock::time_point now);

  bool silent_ = false;
  bool lost_ = false;  // a lost device comes back only in a rebuilt graph
  unsigned long last_samples_ = 0;
  Clock::time_point last_frame_{};
  Clock::time_point last_retry_{};
};

}  // namespace talvex
