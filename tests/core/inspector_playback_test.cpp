#include <gtest/gtest.h>

#include <string>

#include "inspector/playback_math.h"

namespace talvex {
namespace {

TEST(InspectorPlayback, FrameTimeIsTheStartPlusTheSecondsPlayed) {
  struct Case {
    CalendarTime start;
    std::int64_t seconds;
    const char* label;
  } cases[] = {
      {{2005, 12, 31, 23, 59, 30}, 45, "Date: 2006-01-01 Time: 00:00:15"},
      {{2006, 3, 7, 9, 5, 0}, 60, "Date: 2006-03-07 Time: 09:06:00"},
      {{2006, 3, 7, 9, 5, 0}, 0, "Date: 2006-03-07 Time: 09:05:00"},
      {{2008, 2, 28, 23, 0, 0}, 3600, "Date: 2008-02-29 Time: 00:00:00"},
      {{2006, 12, 25, 7, 5, 3}, 86'400 * 365, "Date: 2007-12-25 Time: 07:05:03"},
  };
  for (const Case& c : cases) {
    const auto t = frame_time(c.start, c.seconds);
    ASSERT_TRUE(t) << c.label;
    EXPECT_EQ(frame_label(frame_time_texts(*t)), c.label);
  }
  EXPECT_FALSE(frame_time({2006, 3, 7, 9, 5, 0}, -1));
  EXPECT_FALSE(frame_time({2006, 13, 7, 9, 5, 0}, 1));
  // Far past the last representable date: no time rather than a wrapped one.
  EXPECT_FALSE(frame_time({2006, 3, 7, 9, 5, 0}, 0x7FFFFFFFFFFFFFFF / 10));
}

TEST(InspectorPlayback, FrameTimeTextsAndLabel) {
  const FrameTimeTexts t = frame_time_texts({2006, 3, 7, 9, 6, 0});
  EXPECT_EQ(t.year, "2006");
  EXPECT_EQ(t.month, "03");
  EXPECT_EQ(t.second, "00");
  EXPECT_EQ(frame_label(FrameTimeTexts{}), "Date: -- Time: ::");
  // A year of five digits does not overrun its text.
  EXPECT_EQ(frame_time_texts({30827, 12, 31, 0, 0, 0}).year, "3082");
}

TEST(InspectorPlayback, JumpsStopAtTheEndsOfTheVideo) {
  constexpr std::int64_t s = 10'000'000;
  struct Case {
    const char* what;
    bool forward;
    std::int64_t current, seconds, duration;
    std::int64_t expected;
  } cases[] = {
      {"back from 20 s", false, 20 * s, 60, 90, 0},
      {"back from 100 s", false, 100 * s, 60, 300, 40 * s},
      {"forward from 50 s of 90", true, 50 * s, 60, 90, 90 * s},
      {"forward from 10 s of 90", true, 10 * s, 60, 90, 70 * s},
      {"forward from a position past the end", true, 95 * s, 60, 90, 90 * s},
      {"forward by a huge step", true, 10 * s, 0x7FFFFFFFFFFF, 90, 90 * s},
      {"back by a huge step", false, 10 * s, 0x7FFFFFFFFFFF, 90, 0},
  };
  for (const Case& c : cases) {
    const auto target = c.forward ? seek_forward_target(c.current, c.seconds, c.duration)
                                  : seek_back_target(c.current, c.seconds, c.duration);
    ASSERT_TRUE(target) << c.what;
    EXPECT_EQ(target->position, c.expected) << c.what;
    EXPECT_EQ(target->stop, c.duration * s) << c.what;
  }
  EXPECT_FALSE(seek_forward_target(0, 60, 0));  // unknown duration
  EXPECT_FALSE(seek_back_target(0, 0, 90));
  EXPECT_FALSE(seek_forward_target(0, 60, 0x7FFFFFFFFFFFFFFF));
}

TEST(InspectorPlayback, PhotoNames) {
  const FrameTimeTexts t = frame_time_texts({2006, 3, 7, 9, 6, 0});
  EXPECT_EQ(photo_file_name("D:\\photos", t), "D:\\photos\\2006-03-07_09-06-00.bmp");
  EXPECT_EQ(photo_file_name("D:\\", t), "D:\\2006-03-07_09-06-00.bmp");
  EXPECT_EQ(photo_file_name("D:\\photos", FrameTimeTexts{}), "D:\\photos\\--_--.bmp");
  // The name must fit in 99 characters: a folder of 75 does, one of 76 does not.
  const std::string folder75 = "C:\\" + std::string(72, 'f');
  const auto fits = photo_file_name(folder75, t);
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size(), 99u);
  EXPECT_FALSE(photo_file_name(folder75 + "g", t));
  EXPECT_FALSE(photo_file_name(std::string(300, 'x'), t));
}

std::uint32_t u32_of(const std::array<unsigned char, kBmpHeadersSize>& h, int at) {
  return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16 |
                                    static_cast<std::uint32_t>(h[at + 3]) << 24);
}

TEST(InspectorPlayback, BmpHeadersOfAPhoto) {
  const auto h = bmp_headers(320, 240, 24, 320 * 240 * 3);
  ASSERT_TRUE(h);
  auto u32 = [&](int at) { return u32_of(*h, at); };
  EXPECT_EQ((*h)[0], 'B');
  EXPECT_EQ((*h)[1], 'M');
  EXPECT_EQ(u32(2), 230'454u);
  EXPECT_EQ(u32(6), 0u);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 320u);
  EXPECT_EQ(u32(22), 240u);
  EXPECT_EQ((*h)[26] | (*h)[27] << 8, 1);
  EXPECT_EQ((*h)[28] | (*h)[29] << 8, 24);
  for (int at = 30; at < 54; at += 4) EXPECT_EQ(u32(at), 0u) << at;
  // A top-down frame keeps its negative height; an impossible size is refused.
  EXPECT_EQ(static_cast<std::int32_t>(u32_of(*bmp_headers(16, -8, 16, 256), 22)), -8);
  EXPECT_FALSE(bmp_headers(1, 1, 24, 0x7FFFFFFF));
  EXPECT_FALSE(bmp_headers(1, 1, 24, -1));
}

}  // namespace
}  // namespace talvex
