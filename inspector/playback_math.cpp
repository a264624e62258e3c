#include "inspector/playback_math.h"

#include <cstdio>

#include "inspector/calendar.h"

namespace talvex {
namespace {

FixedText<5> two_digits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, value < 10 ? "0%d" : "%d", value);
  return FixedText<5>(text);
}

void put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, std::uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

// The media time of a whole number of seconds, or nothing when it does not fit.
std::optional<std::int64_t> media_time(std::int64_t seconds) {
  std::int64_t ticks = 0;
  if (__builtin_mul_overflow(seconds, kTicksPerSecond, &ticks)) return std::nullopt;
  return ticks;
}

}  // namespace

std::optional<CalendarTime> frame_time(const CalendarTime& start, std::int64_t seconds) {
  if (seconds < 0) return std::nullopt;
  CalendarTime whole = start;
  whole.milliseconds = 0;
  const std::optional<std::int64_t> base = file_time(whole);
  const std::optional<std::int64_t> played = media_time(seconds);
  if (!base || !played) return std::nullopt;
  std::int64_t ticks = 0;
  if (__builtin_add_overflow(*base, *played, &ticks)) return std::nullopt;
  return calendar_time(ticks);
}

FrameTimeTexts frame_time_texts(const CalendarTime& t) {
  FrameTimeTexts texts;
  char year[16];
  std::snprintf(year, sizeof year, "%d", t.year);
  texts.year = year;  // a year past 9999 is cut to its first four digits
  texts.month = two_digits(t.month);
  texts.day = two_digits(t.day);
  texts.hour = two_digits(t.hour);
  texts.minute = two_digits(t.minute);
  texts.second = two_digits(t.second);
  return texts;
}

std::string frame_label(const FrameTimeTexts& t) {
  return "Date: " + t.year.str() + "-" + t.month.str() + "-" + t.day.str() +
         " Time: " + t.hour.str() + ":" + t.minute.str() + ":" + t.second.str();
}

std::optional<SeekTarget> seek_forward_target(std::int64_t current, std::int64_t seconds,
                                              std::int64_t duration_seconds) {
  if (duration_seconds == 0 || seconds == 0) return std::nullopt;
  const std::optional<std::int64_t> end = media_time(duration_seconds);
  if (!end) return std::nullopt;
  const std::optional<std::int64_t> step = media_time(seconds);
  std::int64_t target = 0;
  if (!step || __builtin_add_overflow(current, *step, &target) || target > *end) target = *end;
  return SeekTarget{target, *end};
}

std::optional<SeekTarget> seek_back_target(std::int64_t current, std::int64_t seconds,
                                           std::int64_t duration_seconds) {
  if (duration_seconds == 0 || seconds == 0) return std::nullopt;
  const std::optional<std::int64_t> end = media_time(duration_seconds);
  if (!end) return std::nullopt;
  const std::optional<std::int64_t> step = media_time(seconds);
  std::int64_t target = 0;
  if (!step || __builtin_sub_overflow(current, *step, &target) || target < 0) target = 0;
  return SeekTarget{target, *end};
}

std::optional<std::string> photo_file_name(std::string_view folder, const FrameTimeTexts& t) {
  std::string name(folder.substr(0, folder.find('\0')));
  if (name.empty() || name.back() != '\\') name += '\\';
  name += t.year.str() + "-" + t.month.str() + "-" + t.day.str() + "_" + t.hour.str() + "-" +
          t.minute.str() + "-" + t.second.str() + ".bmp";
  if (name.size() > kPhotoNameLimit) return std::nullopt;
  return name;
}

std::optional<std::array<unsigned char, kBmpHeadersSize>> bmp_headers(std::int32_t width,
                                                                      std::int32_t height,
                                                                      std::uint16_t bit_count,
                                                                      std::int64_t image_size) {
  if (image_size < 0 || image_size > 0x7FFFFFFF - static_cast<std::int64_t>(kBmpHeadersSize))
    return std::nullopt;
  std::array<unsigned char, kBmpHeadersSize> h{};
  h[0] = 'B';
  h[1] = 'M';
  put32(&h[2], static_cast<std::uint32_t>(image_size + kBmpHeadersSize));
  put32(&h[10], kBmpHeadersSize);
  put32(&h[14], 40);
  put32(&h[18], static_cast<std::uint32_t>(width));
  put32(&h[22], static_cast<std::uint32_t>(height));
  put16(&h[26], 1);
  put16(&h[28], bit_count);
  return h;  // compression, image size, resolutions and colour counts stay 0
}

}  // namespace talvex
