#include "filters/test_scene.h"

#include <algorithm>

namespace talvex::filters {

namespace {

StreamTime offset_in_cycle(StreamTime t) {
  const StreamTime r = t % kSceneCycle;
  return r < 0 ? r + kSceneCycle : r;
}

// Mid-grey texture: 16-pixel checks, a slow gradient and a fine ripple, so that a picture
// has detail for the compressor and a bright object stands out clearly.
void paint_background(Rgb24Image& image) {
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = image.bgr.data() + static_cast<std::size_t>(y) * image.width * 3;
    for (int x = 0; x < image.width; ++x) {
      const int check = ((x / 16 + y / 16) % 2) * 24;
      const int ripple = (x * 3 + y * 5) % 13;
      row[3 * x] = static_cast<std::uint8_t>(70 + check + ripple);  // blue
      row[3 * x + 1] = static_cast<std::uint8_t>(60 + check + (x * 40) / std::max(1, image.width));
      row[3 * x + 2] = static_cast<std::uint8_t>(50 + check + (y * 40) / std::max(1, image.height));
    }
  }
}

void paint_object(Rgb24Image& image, StreamTime into_crossing) {
  const int side = std::max(1, image.height / 2);
  // From one column showing at the left edge to one column showing at the right edge, so
  // that the object is in the picture for the whole crossing.
  const long long travel = static_cast<long long>(image.width) + side - 2;
  const int left = static_cast<int>(1 - side + travel * into_crossing / kObjectCrossing);
  const int top_row = (image.height - side) / 2;  // counted from the bottom; centred
  for (int y = top_row; y < top_row + side; ++y) {
    std::uint8_t* row = image.bgr.data() + static_cast<std::size_t>(y) * image.width * 3;
    for (int x = std::max(0, left); x < std::min(image.width, left + side); ++x) {
      row[3 * x] = 64;
      row[3 * x + 1] = 240;
      row[3 * x + 2] = 255;
    }
  }
}

}  // namespace

bool object_visible(StreamTime t) {
  const StreamTime offset = offset_in_cycle(t);
  return offset >= kObjectEnters && offset < kObjectEnters + kObjectCrossing;
}

Rgb24Image render_scene(SceneKind kind, StreamTime t, int width, int height) {
  Rgb24Image image;
  image.width = std::max(1, width);
  image.height = std::max(1, height);
  image.bgr.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  paint_background(image);
  if (kind == SceneKind::kMoving && object_visible(t)) {
    paint_object(image, offset_in_cycle(t) - kObjectEnters);
  }
  return image;
}

}  // namespace talvex::filters
