// Made-up but realistic camera sequences for the motion detector's tests: a textured room
// with a bright window, lit and moved in the ways that start false alarms (a lamp, an
// exposure ramp, a white-balance step, a cloud's soft shadow, a tree in a corner) and in
// the ways that must not be missed (a person crossing, an object close to the lens), each
// frame with its own sensor noise of +-3 levels a channel. The frames are 24-bit BMP files
// as the Replay camera plays them, one a capture pass (4 a second).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvex::testing {

struct Rgb {
  std::uint8_t b, g, r;
};

// A picture stored bottom row first, three bytes a pixel without padding.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

struct SceneRow {
  const char* name;
  // The answer the detector must give with the light filter on (and the row's mask in
  // place) at thresholds 3.0, 7.5 and 12.5.
  bool expected[3];
  bool masked;        // the row is measured with the tree's mask
  bool light_change;  // the whole picture's light changes: the design's measure alarms
  bool object;        // something person-sized moves: the design's own answer is kept
};

inline constexpr float kSceneThresholds[3] = {3.0f, 7.5f, 12.5f};
inline constexpr int kScenesPerSecond = 4;

// The rows of the table, in order.
const std::vector<SceneRow>& scene_rows();
// The frames of one row at this size (the tests use 320 x 240).
std::vector<Picture> scene_frames(const std::string& row, int width, int height);
// The mask of the tree rows at this size: black over the tree's corner, white elsewhere.
Picture tree_mask(int width, int height);
// A camera starting: `dark` frames in which its exposure opens from black, then `still`
// frames of the room (noise only).
std::vector<Picture> dark_then_still(int dark, int still, int width, int height);

// The bytes of a 24-bit bottom-up BMP file of the picture; with `grey8`, an 8-bit one with a
// grey colour table holding each pixel's green.
std::string bmp_bytes(const Picture& picture, bool grey8 = false);

}  // namespace talvex::testing
