#include "dshow/frame_format.h"

namespace talvex::dshow {

int bits_per_pixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::kRgb32:
      return 32;
    case PixelFormat::kRgb24:
      return 24;
    case PixelFormat::kRgb555:
      return 16;
  }
  return 24;
}

std::size_t row_stride(int width, PixelFormat format) {
  const std::size_t bits = static_cast<std::size_t>(width) * bits_per_pixel(format);
  return ((bits + 31) / 32) * 4;
}

std::size_t frame_size(int width, int height, PixelFormat format) {
  return row_stride(width, format) * static_cast<std::size_t>(height);
}

}  // namespace talvex::dshow
