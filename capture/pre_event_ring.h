// The seconds before an event: the last samples of the capture stream, kept in memory while
// no recording runs, so that a motion recording can begin before the pass that saw the
// motion. Bounded in bytes; past the bound the oldest samples go first, so an uncompressed
// high-resolution stream keeps fewer seconds than asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "common/system_calls.h"

namespace talvex {

// One sample of the capture stream as the recorder receives it.
struct StreamSample {
  std::vector<std::uint8_t> bytes;
  std::int64_t time = 0;  // 100-ns units on the stream's clock, never decreasing
  CalendarTime local{};   // local time of its arrival: the video's name starts here
  bool key = true;        // a picture that decodes on its own
};

class PreEventRing {
 public:
  static constexpr std::size_t kDefaultBound = std::size_t{256} << 20;
  static constexpr std::int64_t kUnitsPerSecond = 10000000;

  explicit PreEventRing(std::size_t bound = kDefaultBound) : bound_(bound) {}

  // Keeps the samples of the last `seconds` (those no older than the newest by more);
  // 0 keeps nothing. A sample older than the newest kept (the stream's clock began anew)
  // empties the ring first.
  void set_seconds(int seconds);
  void push(StreamSample sample);
  // Takes every sample kept, oldest first, from the first key frame on, and empties the
  // ring.
  std::deque<StreamSample> take();
  void clear();

  std::size_t size() const { return samples_.size(); }
  std::size_t bytes() const { return bytes_; }
  // Samples dropped because of the byte bound since the last clear.
  std::size_t dropped_for_bound() const { return dropped_for_bound_; }

 private:
  void trim();

  std::size_t bound_;
  std::int64_t span_ = 0;
  std::deque<StreamSample> samples_;
  std::size_t bytes_ = 0;
  std::size_t dropped_for_bound_ = 0;
};

}  // namespace talvex
