// Any bytes as a replay camera's BMP file: the reader refuses them or returns a picture
// whose pixels lie inside the input, and the picture converts into every frame format.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "filters/bmp_frame.h"
#include "filters/rgb_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talvex::filters;
  const auto image = parse_bmp24(data, size);
  if (!image) return 0;
  if (image->width < 1 || image->height < 1 || image->width > kMaxBmpSide ||
      image->height > kMaxBmpSide ||
      image->bgr.size() != static_cast<std::size_t>(image->width) * image->height * 3 ||
      image->bgr.size() > size) {
    std::abort();
  }
  for (PixelFormat format : {PixelFormat::kRgb24, PixelFormat::kRgb32, PixelFormat::kRgb555}) {
    std::vector<std::uint8_t> frame(frame_size(16, 8, format));
    convert_to_frame(*image, 16, 8, format, frame.data());
  }
  return 0;
}
