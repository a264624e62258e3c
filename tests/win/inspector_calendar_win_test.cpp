// The inspector's own calendar arithmetic against the platform's conversions.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "inspector/calendar.h"

namespace talvex {
namespace {

std::optional<std::int64_t> platform_file_time(const CalendarTime& c) {
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(c.year);
  t.wMonth = static_cast<WORD>(c.month);
  t.wDay = static_cast<WORD>(c.day);
  t.wHour = static_cast<WORD>(c.hour);
  t.wMinute = static_cast<WORD>(c.minute);
  t.wSecond = static_cast<WORD>(c.second);
  t.wMilliseconds = static_cast<WORD>(c.milliseconds);
  FILETIME ft;
  if (!::SystemTimeToFileTime(&t, &ft)) return std::nullopt;
  return static_cast<std::int64_t>(ULARGE_INTEGER{{ft.dwLowDateTime, ft.dwHighDateTime}}.QuadPart);
}

TEST(InspectorCalendarWin, SameFileTimesAsThePlatform) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> year(1590, 10000), month(0, 13), day(0, 32), hour(0, 24),
      minute(0, 60), second(0, 60), millisecond(0, 1000);
  int valid = 0;
  for (int i = 0; i < 200'000; ++i) {
    const CalendarTime t{year(random),   month(random),  day(random),        hour(random),
                         minute(random), second(random), millisecond(random)};
    const auto ours = file_time(t);
    const auto platform = platform_file_time(t);
    // Every date the platform refuses, we refuse; every date we take, it converts the same.
    // (Wine takes 29 February of any year, which Windows and we refuse.)
    if (!platform) {
      ASSERT_FALSE(ours) << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":"
                         << t.minute << ":" << t.second << "." << t.milliseconds;
    }
    if (!ours) {
      if (platform) {
        ASSERT_TRUE(t.month == 2 && t.day == 29) << t.year << "-" << t.month << "-" << t.day;
      }
      continue;
    }
    ASSERT_EQ(ours, platform) << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":"
                              << t.minute << ":" << t.second << "." << t.milliseconds;
    ++valid;
    FILETIME ft{static_cast<DWORD>(*ours), static_cast<DWORD>(*ours >> 32)};
    SYSTEMTIME back;
    ASSERT_TRUE(::FileTimeToSystemTime(&ft, &back));
    const auto mine = calendar_time(*ours);
    ASSERT_TRUE(mine);
    ASSERT_EQ((std::vector<int>{mine->year, mine->month, mine->day, mine->hour, mine->minute,
                                mine->second, mine->milliseconds}),
              (std::vector<int>{back.wYear, back.wMonth, back.wDay, back.wHour, back.wMinute,
                                back.wSecond, back.wMilliseconds}));
  }
  EXPECT_GT(valid, 10'000);
}

}  // namespace
}  // namespace talvex
