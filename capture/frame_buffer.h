// The newest grabbed frame and the two BMP frame files "Talvex_0.bmp" / "Talvex_1.bmp":
// 54 bytes of headers and the pixels exactly as grabbed.
#pragma once

#include <cstdint>
#include <vector>

#include "app/settings.h"

namespace talvex {

// The format of the frames a grabber delivers.
struct GrabbedFormat {
  int width = 0;
  int height = 0;  // positive: rows bottom-up
  int bit_count = 0;
};

// The three operations of a sample grabber that frame grabbing needs.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual bool has_grabber() const = 0;
  // The size of the newest frame; fails while no frame has arrived or on refusal.
  virtual bool grabbed_size(long& size) = 0;
  virtual bool copy_grabbed(void* bytes, long& size) = 0;
  // The connected format; fails when it is not a video-info format.
  virtual bool grabbed_format(GrabbedFormat& format) = 0;
};

// The capture thread's copy of the newest frame.
struct FrameBuffer {
  std::vector<std::uint8_t> bytes;
  std::int32_t size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bit_count = 0;
};

constexpr std::size_t kBmpHeadersSize = 54;

// Copies the newest frame into `frame`: 54; 0 with no device, no grabber or a format that
// is not video-info; 0 after logging 14 when the grabber gives no frame; 0 when there is
// no memory for the frame. The frame's block is reused while the size stays the same.
int grab_frame(const Settings& settings, FrameSource* source, FrameBuffer& frame,
               void (*log)(int number));

// Writes the frame as "Talvex_0.bmp" (index 0) or "Talvex_1.bmp" (any other index): 54, or
// 0 when there is no frame, the file can't be written, or the frame is palettised. A file
// of the same size is overwritten in place; any other is created afresh.
int write_frame_file(const Settings& settings, const FrameBuffer& frame, int index);

// The 54 header bytes of a frame file for these pixels.
std::vector<std::uint8_t> bmp_headers(std::int32_t width, std::int32_t height,
                                      std::int32_t bit_count, std::uint32_t pixel_bytes);

}  // namespace talvex
