#include "capture/frame_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvex {
namespace {

using Action = FrameWatch::Action;
using std::chrono::milliseconds;

// A run of half-second ticks: each step gives the graph's sample count (-1: no graph runs)
// or 'L' for a device-lost event, and the actions are written down as letters.
std::string run(const std::vector<long>& steps, std::vector<int> rebuilt_at = {}) {
  FrameWatch watch;
  FrameWatch::Clock::time_point now{};
  watch.reset(now);
  std::string actions;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    now += milliseconds(500);
    for (int r : rebuilt_at) {
      if (r == static_cast<int>(i)) watch.graph_rebuilt(now);
    }
    const Action a = steps[i] == 'L'
                         ? watch.device_lost(now)
                         : watch.tick(now, static_cast<unsigned long>(steps[i] < 0 ? 0 : steps[i]),
                                      steps[i] >= 0);
    actions += a == Action::kNone      ? '.'
               : a == Action::kStopped ? 'S'
               : a == Action::kRetry   ? 'R'
                                       : 'B';
  }
  return actions;
}

TEST(FrameWatch, SilenceRetriesAndReturn) {
  // Frames every tick: nothing to say.
  EXPECT_EQ(run({1, 2, 3, 4, 5, 6, 7, 8}), "........");
  // The count stops at 3: silent 3 s after the last new frame, retries every 5 s, and the
  // first new frame is the return. No second "stopped" in between.
  EXPECT_EQ(run({1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 5}),
            "........S.........R.B.");
  // A device-lost event is a drop-out at once; a late sample of the lost graph is no
  // return, a retry's graph starts its count at 0 and its first frame is.
  EXPECT_EQ(run({1, 'L', 2, 'L', 2, 2, 2, 2, 2, 2, 2, 0, 0, 1}, {11}), ".S.........R.B");
  // No graph at all (no device): never silent.
  EXPECT_EQ(run({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1}), "..........");
  // Silent with no graph left after a failed retry: the retries go on.
  std::vector<long> gone(9, 0);
  gone.insert(gone.end(), 21, -1);
  EXPECT_EQ(run(gone), ".....S.........R.........R....");
}

TEST(FrameWatch, AUserChoiceForgetsTheDropout) {
  FrameWatch watch;
  FrameWatch::Clock::time_point now{};
  watch.reset(now);
  EXPECT_EQ(watch.device_lost(now), Action::kStopped);
  EXPECT_TRUE(watch.silent());
  watch.reset(now);
  EXPECT_FALSE(watch.silent());
  EXPECT_EQ(watch.tick(now + milliseconds(500), 1, true), Action::kNone);
}

}  // namespace
}  // namespace talvex
