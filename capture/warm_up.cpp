#include "capture/warm_up.h"

#include <algorithm>

namespace talvex {

void WarmUp::start(Clock::time_point now) {
  since_ = now.time_since_epoch().count();
  started_ = true;
}

bool WarmUp::active(Clock::time_point now, int seconds) const {
  seconds = std::clamp(seconds, 0, kLongestSeconds);
  if (seconds == 0 || !started_) return false;
  const Clock::time_point since{Clock::duration{since_.load()}};
  return now - since < std::chrono::seconds(seconds);
}

}  // namespace talvex
