#include "capture/pre_event_ring.h"

#include <utility>

namespace talvex {

void PreEventRing::set_seconds(int seconds) {
  span_ = seconds > 0 ? static_cast<std::int64_t>(seconds) * kUnitsPerSecond : 0;
  trim();
}

void PreEventRing::push(StreamSample sample) {
  if (span_ <= 0) return;
  // A stream clock that went back (the graph ran anew) makes the samples kept so far
  // older than any span could tell.
  if (!samples_.empty() && sample.time < samples_.back().time) clear();
  bytes_ += sample.bytes.size();
  samples_.push_back(std::move(sample));
  trim();
}

void PreEventRing::trim() {
  if (span_ <= 0) {
    clear();
    return;
  }
  const std::int64_t newest = samples_.empty() ? 0 : samples_.back().time;
  while (!samples_.empty()) {
    const bool too_old = newest - samples_.front().time > span_;
    const bool too_large = bytes_ > bound_;
    if (!too_old && !too_large) break;
    if (!too_old) ++dropped_for_bound_;
    bytes_ -= samples_.front().bytes.size();
    samples_.pop_front();
  }
}

std::deque<StreamSample> PreEventRing::take() {
  while (!samples_.empty() && !samples_.front().key) {
    bytes_ -= samples_.front().bytes.size();
    samples_.pop_front();
  }
  std::deque<StreamSample> out;
  out.swap(samples_);
  bytes_ = 0;
  return out;
}

void PreEventRing::clear() {
  samples_.clear();
  bytes_ = 0;
  dropped_for_bound_ = 0;
}

}  // namespace talvex
