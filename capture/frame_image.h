// The frame image: an in-memory 24-bit picture loaded from a frame file, with the
// operations of the motion detector and the snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/settings.h"

namespace talvex {

class FrameImage {
 public:
  static constexpr int kDefaultQuality = 75;
  static constexpr int kDefaultDpi = 72;

  bool empty() const { return pixels_.empty(); }
  int width() const { return width_; }
  int height() const { return height_; }
  int bits_per_pixel() const { return bits_per_pixel_; }
  int bytes_per_pixel() const { return bits_per_pixel_ / 8; }
  int stride() const { return stride_; }
  // Stored row y; row 0 is the bottom of the picture.
  std::uint8_t* row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * stride_; }
  const std::uint8_t* row(int y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * stride_;
  }

  // A picture of width x height at 24 (or 8) bits per pixel, rows padded to 4 bytes, black.
  void allocate(int width, int height, int bits_per_pixel);
  void clear();

  int quality = kDefaultQuality;
  int dpi = kDefaultDpi;

 private:
  int width_ = 0;
  int height_ = 0;
  int bits_per_pixel_ = 0;
  int stride_ = 0;
  std::vector<std::uint8_t> pixels_;
};

// Limits of what load_bmp accepts from a file it did not necessarily write.
constexpr int kLargestSide = 16384;
constexpr std::int64_t kLargestPixelCount = std::int64_t{1} << 26;  // 8192 x 8192

// Loads an uncompressed 16 (5-5-5), 24 or 32-bit BMP, bottom-up or top-down, as a 24-bit
// image stored bottom row first. On failure (missing file, bad or lying headers, a depth
// it does not know, pixels past the end) the image is left as it was.
bool load_bmp(FrameImage& image, const char* file_name);
// The same from bytes in memory.
bool load_bmp_bytes(FrameImage& image, const std::uint8_t* data, std::size_t size);

// this = max(0, this - other) per channel over the bottom-left overlap.
void subtract_clamped(FrameImage& image, const FrameImage& other);
// The mean of (11 b + 59 g + 30 r) / 100 over all pixels, summed in a 32-bit float.
float mean_gray(const FrameImage& image);
// mean_gray(subtract_clamped(copy of x, y)) without the copy.
float difference_mean(const FrameImage& x, const FrameImage& y);

// Compares "Talvex_0.bmp" and "Talvex_1.bmp" in both directions against the threshold.
bool detect_motion(const Settings& settings);

// Copies the rectangle (origin at the picture's top-left) of `source` into `destination`.
bool crop_region(const FrameImage& source, int left, int top, int right, int bottom,
                 FrameImage& destination);

}  // namespace talvex
