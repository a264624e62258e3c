// The test cameras' pictures: 24-bit images in memory, and their conversion into the
// frames a camera delivers.
#pragma once

#include <cstdint>
#include <vector>

#include "dshow/frame_format.h"

namespace talvex::filters {

using dshow::PixelFormat;

// A 24-bit picture in memory: `height` rows of `width` blue-green-red triples, bottom row
// first, without padding.
struct Rgb24Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;

  const std::uint8_t* row(int y_from_bottom) const {
    return bgr.data() + static_cast<std::size_t>(y_from_bottom) * width * 3;
  }
};

// Writes `image` into a frame of `width` x `height` in `format` (bottom-up, padded rows).
// The picture is anchored at its top-left corner: a larger one is cropped, a smaller one
// padded with black.
void convert_to_frame(const Rgb24Image& image, int width, int height, PixelFormat format,
                      std::uint8_t* frame);

}  // namespace talvex::filters
