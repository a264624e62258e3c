// Any bytes as a frame file: load_bmp_bytes either refuses them, leaving the image as it
// was, or gives a 24-bit image within the limits whose every row can be read; and the
// motion measure and the crop run on whatever it gave.
#include <cstdint>
#include <cstdlib>

#include "capture/frame_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  talvex::FrameImage image;
  image.allocate(1, 1, 24);
  if (!talvex::load_bmp_bytes(image, data, size)) {
    if (image.width() != 1 || image.height() != 1) std::abort();
    return 0;
  }
  if (image.bits_per_pixel() != 24 || image.width() <= 0 || image.height() <= 0 ||
      image.width() > talvex::kLargestSide || image.height() > talvex::kLargestSide) {
    std::abort();
  }
  volatile std::uint8_t sink = 0;
  for (int y = 0; y < image.height(); ++y) sink = sink + image.row(y)[image.width() * 3 - 1];
  talvex::FrameImage other;
  other.allocate(3, 2, 24);
  (void)talvex::difference_mean(image, other);
  (void)talvex::difference_mean(other, image);
  talvex::FrameImage crop;
  (void)talvex::crop_region(image, 0, 0, 240, 180, crop);
  return 0;
}
