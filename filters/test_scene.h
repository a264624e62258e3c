// The picture of the test cameras, computed from a time alone so that every run
// shows the same frames at the same times: a textured still background and, for the test
// camera, a bright square that crosses it from left to right for kObjectCrossing out of
// every kSceneCycle.
#pragma once

#include <cstdint>

#include "filters/rgb_image.h"

namespace talvex::filters {

// Stream time in 100-nanosecond units, as DirectShow counts it.
using StreamTime = std::int64_t;
inline constexpr StreamTime kUnitsPerSecond = 10'000'000;

inline constexpr StreamTime kSceneCycle = 10 * kUnitsPerSecond;
// The object enters at this offset into every cycle and has left the picture
// kObjectCrossing later.
inline constexpr StreamTime kObjectEnters = 2 * kUnitsPerSecond;
inline constexpr StreamTime kObjectCrossing = 2 * kUnitsPerSecond;

enum class SceneKind {
  kMoving,  // background plus the crossing object
  kStill,   // background only, never changing
};

// Whether the crossing object is in the picture at time t (for kMoving).
bool object_visible(StreamTime t);

// The scene at time t, width x height (both at least 1).
Rgb24Image render_scene(SceneKind kind, StreamTime t, int width, int height);

}  // namespace talvex::filters
