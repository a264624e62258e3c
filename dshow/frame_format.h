// Uncompressed RGB frames as DirectShow carries them, as cameras deliver them and the
// compressor takes them: rows padded to 4 bytes, bottom row first (a DIB with a positive
// height).
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvex::dshow {

enum class PixelFormat {
  kRgb32,   // blue, green, red, unused
  kRgb24,   // blue, green, red
  kRgb555,  // one little-endian word: bits 0-4 blue, 5-9 green, 10-14 red
};

int bits_per_pixel(PixelFormat format);
// Bytes of one row, padded to a multiple of 4.
std::size_t row_stride(int width, PixelFormat format);
std::size_t frame_size(int width, int height, PixelFormat format);

}  // namespace talvex::dshow
