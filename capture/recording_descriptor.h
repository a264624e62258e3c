// The recording descriptor "Talvex_tmp.dsc": what a recording's file did not hold until
// the platform's multiplexer finished it. Earlier versions wrote it beside "Talvex_tmp.avi"
// when a recording started; the start-up recovery still reads it for such a file. The
// recorder's own files carry this in their headers and need none.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/system_calls.h"

namespace talvex {

inline constexpr char kRecordingDescriptorName[] = "Talvex_tmp.dsc";

using MediaGuid = std::array<std::uint8_t, 16>;

// The stream's media type as the graph connected it to the recorder (or the multiplexer).
struct RecordingFormat {
  MediaGuid major_type{};
  MediaGuid sub_type{};
  MediaGuid format_type{};
  std::vector<std::uint8_t> format;  // the format block (a VIDEOINFOHEADER and what follows)
  std::int64_t frame_period = 0;     // 100-ns units; 0 when the type gives none
};

struct RecordingDescriptor {
  RecordingFormat format;
  CalendarTime start{};  // local time of the recording's start
};

// The GUIDs the recovery needs, in their byte order in memory.
extern const MediaGuid kMediaTypeVideo;
extern const MediaGuid kFormatVideoInfo;

// The video picture of a VIDEOINFOHEADER format block.
struct VideoPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;        // as stored: negative for a top-down picture
  std::uint32_t compression = 0;  // biCompression, a four-character code or 0
  std::int64_t frame_period = 0;  // AvgTimePerFrame
};
// The picture of a video format; nothing for another format or a block too short.
std::optional<VideoPicture> video_picture(const RecordingFormat& format);

// The descriptor's bytes: a signature, the fields, and a check sum over all of them.
std::vector<std::uint8_t> descriptor_bytes(const RecordingDescriptor& descriptor);
// Reads descriptor bytes: nothing for bytes that are short, torn, of another version or
// whose check sum does not match.
std::optional<RecordingDescriptor> parse_descriptor(std::span<const std::uint8_t> bytes);

// Writes the descriptor file and flushes it to the disk; false when any step failed
// (the file is then removed).
bool write_descriptor_file(const RecordingDescriptor& descriptor);
std::optional<RecordingDescriptor> read_descriptor_file();

}  // namespace talvex
