#include "capture/frame_buffer.h"

#include <algorithm>

#include "app/talvex_messages.h"
#include "capture/working_files.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

// Larger than any frame a capture device delivers (4096 x 4096 at 32 bits is 64 MiB).
constexpr long kLargestFrame = 256L * 1024 * 1024;

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  put16(out, at, v & 0xFFFF);
  put16(out, at + 2, v >> 16);
}

}  // namespace

std::vector<std::uint8_t> bmp_headers(std::int32_t width, std::int32_t height,
                                      std::int32_t bit_count, std::uint32_t pixel_bytes) {
  std::vector<std::uint8_t> h(kBmpHeadersSize, 0);
  h[0] = 'B';
  h[1] = 'M';
  put32(h, 2, pixel_bytes + kBmpHeadersSize);
  put32(h, 10, kBmpHeadersSize);
  put32(h, 14, 40);
  put32(h, 18, static_cast<std::uint32_t>(width));
  put32(h, 22, static_cast<std::uint32_t>(height));  // a negative height as received
  put16(h, 26, 1);
  put16(h, 28, static_cast<std::uint32_t>(bit_count));
  return h;  // compression, image size, resolutions and colours stay 0
}

int grab_frame(const Settings& settings, FrameSource* source, FrameBuffer& frame,
               void (*log)(int number)) {
  if (settings.video_device == kNoneName || source == nullptr || !source->has_grabber()) {
    return 0;
  }
  frame.bytes.clear();
  frame.size = 0;
  long size = 0;
  if (!source->grabbed_size(size) || size <= 0 || size > kLargestFrame) {
    if (log) log(msg::kGrabberFailed);
    return 0;
  }
  frame.bytes.resize(static_cast<std::size_t>(size));
  frame.size = static_cast<std::int32_t>(size);
  long copied = size;
  if (!source->copy_grabbed(frame.bytes.data(), copied)) {
    if (log) log(msg::kGrabberFailed);
    return 0;
  }
  GrabbedFormat format;
  if (!source->grabbed_format(format)) return 0;
  frame.width = format.width;
  frame.height = format.height;
  frame.bit_count = format.bit_count;
  return msg::kOk;
}

int write_frame_file(const Settings& settings, const FrameBuffer& frame, int index) {
  if (settings.video_device == kNoneName) return msg::kOk;
  if (frame.bytes.empty() || frame.size <= 0) return 0;
  // A palettised frame needs its colour table, which the grabber's copy doesn't carry; it
  // is refused rather than written as a picture no reader shows right.
  if (frame.bit_count != 16 && frame.bit_count != 24 && frame.bit_count != 32) return 0;
  const std::uint32_t pixel_bytes = std::min<std::uint32_t>(
      static_cast<std::uint32_t>(frame.size), static_cast<std::uint32_t>(frame.bytes.size()));
  const std::vector<std::uint8_t> headers =
      bmp_headers(frame.width, frame.height, frame.bit_count, pixel_bytes);

  const SystemCalls& sys = system_calls();
  ScopedFile file(sys.open_file(kFrameFileNames[index == 0 ? 0 : 1], "wb"));
  if (!file) return 0;
  bool written = sys.write_file(headers.data(), headers.size(), file.get()) == headers.size();
  written = sys.write_file(frame.bytes.data(), pixel_bytes, file.get()) == pixel_bytes && written;
  written = file.close() && written;
  // A frame file cut short (a full disk) is a failure, not a frame.
  return written ? msg::kOk : 0;
}

}  // namespace talvex
