// Any bytes as a temporary recording go through the recovery's AVI reader: the frame
// chunks it finds lie inside the file, the stream format and start it reads from the
// file's headers are usable, and the AVI rebuilt from them reads back intact with the same
// frames. The same bytes as a recording descriptor are either refused or
// read back to exactly these bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/avi_recovery.h"
#include "capture/recording_descriptor.h"

namespace {

talvex::RecordingFormat mjpeg_format() {
  talvex::RecordingFormat f;
  f.major_type = talvex::kMediaTypeVideo;
  f.format_type = talvex::kFormatVideoInfo;
  f.frame_period = 666666;
  f.format.assign(88, 0);
  const std::int32_t width = 32, height = 24, header = 40;
  std::memcpy(f.format.data() + 48, &header, 4);
  std::memcpy(f.format.data() + 52, &width, 4);
  std::memcpy(f.format.data() + 56, &height, 4);
  std::memcpy(f.format.data() + 64, "MJPG", 4);
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talvex;
  // A heap copy of exactly the input, so that any read past it is caught.
  std::vector<std::uint8_t> bytes(data, data + size);
  MemorySource source(bytes);
  const AviScan scan = scan_avi(source);
  for (const FrameChunk& f : scan.frames) {
    if (f.offset + 8 + f.size > size) __builtin_trap();
  }
  if (scan.intact && !scan.headers) __builtin_trap();
  // The table of frames stays within what one recovery takes.
  if (scan.frames.size() > kMostRecoveredFrames) __builtin_trap();
  if (scan.over_limit && (scan.intact || scan.frames.size() != kMostRecoveredFrames)) {
    __builtin_trap();
  }
  // A format read from the file's own headers is one the recovery can write.
  if (scan.format && !video_picture(*scan.format)) __builtin_trap();
  if (scan.created && (scan.created->month < 1 || scan.created->month > 12 ||
                       scan.created->hour > 23 || scan.created->second > 59)) {
    __builtin_trap();
  }

  char* rebuilt = nullptr;
  std::size_t rebuilt_size = 0;
  std::FILE* out = ::open_memstream(&rebuilt, &rebuilt_size);
  if (!out) return 0;
  static const RecordingFormat mjpeg = mjpeg_format();
  const RecordingFormat& format =
      scan.format && scan.format->frame_period > 0 ? *scan.format : mjpeg;
  const bool written = write_rebuilt_avi(source, scan.frames, format, format.frame_period, out);
  std::fclose(out);
  if (!written) __builtin_trap();
  MemorySource again({reinterpret_cast<const std::uint8_t*>(rebuilt), rebuilt_size});
  const AviScan check = scan_avi(again);
  if (!check.intact || check.frames.size() != scan.frames.size()) __builtin_trap();
  for (std::size_t i = 0; i < check.frames.size(); ++i) {
    if (check.frames[i].size != scan.frames[i].size) __builtin_trap();
  }
  std::free(rebuilt);

  if (const auto descriptor = parse_descriptor(bytes)) {
    if (descriptor_bytes(*descriptor) != bytes) __builtin_trap();
  }
  return 0;
}
