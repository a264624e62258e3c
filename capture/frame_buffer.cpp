#include "capture/frame_buffer.h"

#include <algorithm>
#include <array>
#include <new>

#include "app/talvex_messages.h"
#include "capture/working_files.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

// Larger than any frame a capture device delivers (4096 x 4096 at 32 bits is 64 MiB).
constexpr long kLargestFrame = 256L * 1024 * 1024;

using Headers = std::array<std::uint8_t, kBmpHeadersSize>;

void put16(std::uint8_t* out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* out, std::size_t at, std::uint32_t v) {
  put16(out, at, v & 0xFFFF);
  put16(out, at + 2, v >> 16);
}

Headers make_headers(std::int32_t width, std::int32_t height, std::int32_t bit_count,
                     std::uint32_t pixel_bytes) {
  Headers h{};
  h[0] = 'B';
  h[1] = 'M';
  put32(h.data(), 2, pixel_bytes + kBmpHeadersSize);
  put32(h.data(), 10, kBmpHeadersSize);
  put32(h.data(), 14, 40);
  put32(h.data(), 18, static_cast<std::uint32_t>(width));
  put32(h.data(), 22, static_cast<std::uint32_t>(height));  // a negative height as received
  put16(h.data(), 26, 1);
  put16(h.data(), 28, static_cast<std::uint32_t>(bit_count));
  return h;  // compression, image size, resolutions and colours stay 0
}

// Headers, then pixels, into an open stream; true when every byte went out and the close
// reported no error.
bool write_frame(ScopedFile& file, const Headers& headers, const std::uint8_t* pixels,
                 std::uint32_t pixel_bytes) {
  const SystemCalls& sys = system_calls();
  bool written = sys.write_file(headers.data(), headers.size(), file.get()) == headers.size();
  written = sys.write_file(pixels, pixel_bytes, file.get()) == pixel_bytes && written;
  return file.close() && written;
}

// Overwrites an existing frame file of exactly the new size from its first byte: the same
// bytes as a file created afresh, without giving back and taking again the file's blocks.
// False, with the file perhaps part written, when there is no such file or a write failed.
bool rewrite_in_place(const char* name, const Headers& headers, const std::uint8_t* pixels,
                      std::uint32_t pixel_bytes) {
  ScopedFile file(system_calls().open_file(name, "r+b"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file.get());
  if (size < 0 || static_cast<std::uint64_t>(size) != std::uint64_t{pixel_bytes} + headers.size()) {
    return false;
  }
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  return write_frame(file, headers, pixels, pixel_bytes);
}

}  // namespace

std::vector<std::uint8_t> bmp_headers(std::int32_t width, std::int32_t height,
                                      std::int32_t bit_count, std::uint32_t pixel_bytes) {
  const Headers h = make_headers(width, height, bit_count, pixel_bytes);
  return std::vector<std::uint8_t>(h.begin(), h.end());
}

int grab_frame(const Settings& settings, FrameSource* source, FrameBuffer& frame,
               void (*log)(int number)) {
  if (settings.video_device == kNoneName || source == nullptr || !source->has_grabber()) {
    return 0;
  }
  // The previous frame is dropped; its block is kept for the next one, so frames of a
  // steady size are copied without an allocation.
  frame.size = 0;
  long size = 0;
  if (!source->grabbed_size(size) || size <= 0 || size > kLargestFrame) {
    frame.bytes.clear();
    if (log) log(msg::kGrabberFailed);
    return 0;
  }
  try {
    frame.bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    frame.bytes.clear();
    return 0;  // no memory for this frame: the loop logs it as a failed grab
  }
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
  const Headers headers = make_headers(frame.width, frame.height, frame.bit_count, pixel_bytes);
  const char* name = kFrameFileNames[index == 0 ? 0 : 1];
  if (rewrite_in_place(name, headers, frame.bytes.data(), pixel_bytes)) return msg::kOk;

  // No file of this size yet, or the rewrite failed: the file is created afresh, so that a
  // failure leaves what a failed creation leaves.
  ScopedFile file(system_calls().open_file(name, "wb"));
  if (!file) return 0;
  // A frame file cut short (a full disk) is a failure, not a frame.
  return write_frame(file, headers, frame.bytes.data(), pixel_bytes) ? msg::kOk : 0;
}

}  // namespace talvex
