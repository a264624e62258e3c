// The warm-up of the motion detector: for the set number of seconds after each build of
// the capture graph and each return of the camera's frames, the detector answers "no
// motion" while the camera settles its exposure; the frame files go on as always. Started
// by the user-interface thread, asked by the capture thread.
#pragma once

#include <atomic>
#include <chrono>

namespace talvex {

class WarmUp {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kLongestSeconds = 30;

  // The camera starts (again) now.
  void start(Clock::time_point now);
  // Whether `seconds` (clamped to 0 ... 30) have not yet passed since the last start. Never
  // before the first start, and never for 0 seconds.
  bool active(Clock::time_point now, int seconds) const;

 private:
  std::atomic<bool> started_{false};
  std::atomic<Clock::rep> since_{0};
};

}  // namespace talvex
