// The frame image: an in-memory 24-bit picture loaded from a frame file, with the
// operations of the motion detector and the snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
// No frame within the limits above needs a file this large (their pixels take at most
// 256 MiB); a larger file is refused unread.
constexpr long kLargestFrameFile = 512L * 1024 * 1024;

// A frame file opened for reading. Its headers are checked against the limits above and
// against the file's size before any pixel is read, and only the rows asked for are read.
class FrameFileReader {
 public:
  FrameFileReader() = default;
  FrameFileReader(const FrameFileReader&) = delete;
  FrameFileReader& operator=(const FrameFileReader&) = delete;
  ~FrameFileReader();

  // Once per reader. False for a missing or unreadable file, a file larger than kLargestFrameFile,
  // or headers that load_bmp refuses.
  bool open(const char* file_name);
  int width() const { return width_; }
  int rows() const { return rows_; }
  int bits() const { return bits_; }
  bool top_down() const { return top_down_; }
  std::size_t stride() const { return stride_; }
  // The file row that holds stored image row y (row 0 is the bottom of the picture).
  int file_row(int y) const { return top_down_ ? rows_ - 1 - y : y; }
  // Reads `count` whole rows as the file stores them, from file row `first` on, into `out`
  // (count x stride bytes). False when the file came up short.
  bool read_rows(int first, int count, std::uint8_t* out);
  // Reads the first `bytes` bytes of file row `row`.
  bool read_row_start(int row, std::size_t bytes, std::uint8_t* out);

 private:
  bool read_at(long position, std::size_t bytes, std::uint8_t* out);

  std::FILE* file_ = nullptr;  // closed through the system-call table
  long pixels_at_ = 0;
  long position_ = -1;  // where the next read starts without a seek; -1 unknown
  int width_ = 0;
  int rows_ = 0;
  int bits_ = 0;
  bool top_down_ = false;
  std::size_t stride_ = 0;
};

// Converts one row of `width` pixels of a frame file of 16 (5-5-5), 24 or 32 bits per
// pixel to blue, green, red bytes, as load_bmp does.
void frame_row_to_bgr(const std::uint8_t* in, int bits, int width, std::uint8_t* out);

// Loads an uncompressed 16 (5-5-5), 24 or 32-bit BMP, bottom-up or top-down, as a 24-bit
// image stored bottom row first. On failure (missing file, bad or lying headers, a depth
// it does not know, pixels past the end, a file of an implausible size, no memory for the
// picture) the image is left as it was.
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
// Reads both files once, a band of rows at a time, and measures as it reads. No motion
// when the memory for its buffers can't be had.
bool detect_motion(const Settings& settings);

// Copies the rectangle (origin at the picture's top-left) of `source` into `destination`;
// false, with the destination unchanged, for an empty rectangle or no memory for the crop.
bool crop_region(const FrameImage& source, int left, int top, int right, int bottom,
                 FrameImage& destination);

}  // namespace talvex
