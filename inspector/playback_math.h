// The plain arithmetic of playback: the date and time of the frame on screen and its
// label, the 60-second jumps, the photo's name and the BMP headers of the photo.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/fixed_text.h"
#include "common/system_calls.h"

namespace talvex {

constexpr char kEmptyFrameLabel[] = "Date: ----:--:-- Time: --:--:--";

// The six texts of the last frame date and time shown (year "%d", the others two digits).
// Empty until the first frame time is shown.
struct FrameTimeTexts {
  FixedText<5> year, month, day, hour, minute, second;
};

// The video's start plus `seconds` of playing; nothing for a negative position or when the
// start is not a valid date and time.
std::optional<CalendarTime> frame_time(const CalendarTime& start, std::int64_t seconds);

FrameTimeTexts frame_time_texts(const CalendarTime& t);

// "Date: 2006-03-07 Time: 09:06:00".
std::string frame_label(const FrameTimeTexts& texts);

// Where a jump of `seconds` from `current` (media time, 100 ns) lands in a video of
// `duration_seconds`; forward stops at the end, back at 0. `stop` is the end in media time.
struct SeekTarget {
  std::int64_t position;
  std::int64_t stop;
};
std::optional<SeekTarget> seek_forward_target(std::int64_t current, std::int64_t seconds,
                                              std::int64_t duration_seconds);
std::optional<SeekTarget> seek_back_target(std::int64_t current, std::int64_t seconds,
                                           std::int64_t duration_seconds);

// The photo's full name in `folder`: <folder>\2006-03-07_09-06-00.bmp, or without the
// added backslash when the folder already ends in one (a drive root). Nothing when the name
// would not fit in 99 characters.
constexpr std::size_t kPhotoNameLimit = 99;
std::optional<std::string> photo_file_name(std::string_view folder, const FrameTimeTexts& texts);

// The 54 bytes of BMP headers in front of `image_size` bytes of pixels; nothing when the
// file size would not fit its 32-bit field.
constexpr std::size_t kBmpHeadersSize = 54;
std::optional<std::array<unsigned char, kBmpHeadersSize>> bmp_headers(std::int32_t width,
                                                                      std::int32_t height,
                                                                      std::uint16_t bit_count,
                                                                      std::int64_t image_size);

}  // namespace talvex
