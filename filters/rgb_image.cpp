#include "filters/rgb_image.h"

#include <algorithm>
#include <cstring>

namespace talvex::filters {

using dshow::row_stride;

void convert_to_frame(const Rgb24Image& image, int width, int height, PixelFormat format,
                      std::uint8_t* frame) {
  const std::size_t stride = row_stride(width, format);
  std::memset(frame, 0, stride * static_cast<std::size_t>(height));
  const int columns = std::min(width, image.width);
  const int rows = std::min(height, image.height);
  // Top-left anchoring: frame row (height-1-k) from the top takes image row (image.height-1-k).
  for (int k = 0; k < rows; ++k) {
    const std::uint8_t* src = image.row(image.height - 1 - k);
    std::uint8_t* dst = frame + static_cast<std::size_t>(height - 1 - k) * stride;
    switch (format) {
      case PixelFormat::kRgb24:
        std::memcpy(dst, src, static_cast<std::size_t>(columns) * 3);
        break;
      case PixelFormat::kRgb32:
        for (int x = 0; x < columns; ++x) {
          dst[4 * x] = src[3 * x];
          dst[4 * x + 1] = src[3 * x + 1];
          dst[4 * x + 2] = src[3 * x + 2];
          dst[4 * x + 3] = 0;
        }
        break;
      case PixelFormat::kRgb555:
        for (int x = 0; x < columns; ++x) {
          const unsigned word =
              (src[3 * x] >> 3) | ((src[3 * x + 1] >> 3) << 5) | ((src[3 * x + 2] >> 3) << 10);
          dst[2 * x] = static_cast<std::uint8_t>(word & 0xFF);
          dst[2 * x + 1] = static_cast<std::uint8_t>(word >> 8);
        }
        break;
    }
  }
}

}  // namespace talvex::filters
