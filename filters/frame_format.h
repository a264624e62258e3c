// Uncompressed RGB frames as the virtual cameras deliver them: rows padded to 4 bytes,
// bottom row first (a DIB with a positive height).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvex::filters {

enum class PixelFormat {
  kRgb32,   // blue, green, red, unused
  kRgb24,   // blue, green, red
  kRgb555,  // one little-endian word: bits 0-4 blue, 5-9 green, 10-14 red
};

int bits_per_pixel(PixelFormat format);
// Bytes of one row, padded to a multiple of 4.
std::size_t row_stride(int width, PixelFormat format);
std::size_t frame_size(int width, int height, PixelFormat format);

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
