// The mask of the motion detector: "Talvex_mask.bmp" in the video folder, a 24-bit or 8-bit
// BMP of any size whose black pixels are ignored, white ones counted fully and grey ones in
// proportion. It is scaled (nearest pixel) to the frame; the measure is then the mean over
// the weighted pixels, so the threshold keeps its meaning.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/system_calls.h"

namespace talvex {

inline constexpr char kMaskFileName[] = "Talvex_mask.bmp";
// A larger mask file is not read.
inline constexpr std::uint64_t kLargestMaskFile = 64ull * 1024 * 1024;

// The mask as its file holds it: one weight (the pixel's grey, 0 ... 255) a pixel, rows
// stored bottom row first as the frame images are.
struct MaskPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> weights;
};

// Reads an uncompressed 24-bit or 8-bit (colour table) BMP, bottom-up or top-down, of at
// most kLargestMaskFile bytes. False for a file that is missing, cut short, of another kind
// or depth, with lying headers, or all black.
bool read_mask_file(const char* file_name, MaskPicture& picture);
// The same from bytes in memory.
bool read_mask_bytes(const std::uint8_t* data, std::size_t size, MaskPicture& picture);

// The cell grid of the light filter: column j spans [edge(j), edge(j + 1)) of `count`
// columns over `length` pixels (rows likewise).
inline int grid_edge(int j, int count, int length) {
  return static_cast<int>(static_cast<std::int64_t>(j) * length / count);
}
// Columns and rows of the grid for a frame (16 x 12, fewer for frames under 16 x 12).
int grid_columns(int width);
int grid_rows(int height);

// The mask scaled to one frame size, as runs of equal weight along each row.
class ScaledMask {
 public:
  struct Run {
    int x0, x1;  // pixels [x0, x1) of the row
    std::uint8_t weight;
  };
  void build(const MaskPicture& picture, int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  // Runs of row y (0 = bottom of the picture); runs of weight 0 are left out.
  const Run* row_begin(int y) const { return runs_.data() + row_start_[y]; }
  const Run* row_end(int y) const { return runs_.data() + row_start_[y + 1]; }
  // Sum of all weights; 0 when the scaled mask ignores everything.
  std::int64_t total() const { return total_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<Run> runs_;
  std::vector<std::size_t> row_start_;
  std::int64_t total_ = 0;
};

// The mask as the detector uses it: the picture in force and its scaling to the frame size
// last asked for.
class MotionMask {
 public:
  bool empty() const { return picture_ == nullptr; }
  void set(std::shared_ptr<const MaskPicture> picture);
  // The mask for frames of this size; nullptr without a picture, or when the scaled mask
  // ignores every pixel (no mask then).
  const ScaledMask* for_size(int width, int height);

 private:
  std::shared_ptr<const MaskPicture> picture_;
  ScaledMask scaled_;
  bool scaled_valid_ = false;
};

// Keeps the mask of the video folder current: read at the first poll and again whenever the
// file's time or size changes, checked at most once a second. A file that cannot be used
// is ignored and reported once (052) until it changes again.
class MaskWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kCheckPeriod = std::chrono::seconds(1);
  using Log = void (*)(int number);

  explicit MaskWatch(Log log) : log_(log) {}
  // Checks the file when a second has passed since the last check; true when the mask in
  // force changed.
  bool poll(Clock::time_point now);
  MotionMask& mask() { return mask_; }

 private:
  Log log_;
  MotionMask mask_;
  bool checked_ = false;
  Clock::time_point last_check_{};
  bool present_ = false;
  std::uint64_t size_ = 0;
  CalendarTime time_{};
};

}  // namespace talvex
