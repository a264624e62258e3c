#include <gtest/gtest.h>

#include "inspector/calendar.h"

namespace talvex {
namespace {

TEST(InspectorCalendar, KnownFileTimes) {
  struct Case {
    CalendarTime t;
    std::int64_t ticks;
  } cases[] = {
      {{1601, 1, 1, 0, 0, 0, 0}, 0},
      {{1601, 1, 1, 0, 0, 1, 0}, 10'000'000},
      {{1970, 1, 1, 0, 0, 0, 0}, 116'444'736'000'000'000},
      {{2000, 2, 29, 12, 0, 0, 0}, 125'962'992'000'000'000},
      {{2006, 3, 7, 9, 5, 0, 0}, 127'861'959'000'000'000},
      {{30827, 12, 31, 23, 59, 59, 999}, 0x7FFF35F4F06C58F0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file_time(c.t), c.ticks) << c.t.year << "-" << c.t.month << "-" << c.t.day;
    const auto back = calendar_time(c.ticks);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->year, c.t.year);
    EXPECT_EQ(back->month, c.t.month);
    EXPECT_EQ(back->day, c.t.day);
    EXPECT_EQ(back->hour, c.t.hour);
    EXPECT_EQ(back->second, c.t.second);
    EXPECT_EQ(back->milliseconds, c.t.milliseconds);
  }
}

TEST(InspectorCalendar, EveryDayOfFourCenturiesIsOneDayAfterThePreviousAndRoundTrips) {
  std::optional<std::int64_t> previous;
  for (int year = 1601; year <= 2401; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        const CalendarTime t{year, month, day, 23, 59, 59, 0};
        const auto ticks = file_time(t);
        if (!ticks) continue;
        if (previous) {
          ASSERT_EQ(*ticks - *previous, 86'400LL * 10'000'000)
              << year << "-" << month << "-" << day;
        }
        previous = ticks;
        const auto back = calendar_time(*ticks);
        ASSERT_TRUE(back);
        ASSERT_EQ(back->year * 10000 + back->month * 100 + back->day,
                  year * 10000 + month * 100 + day);
      }
    }
  }
}

TEST(InspectorCalendar, InvalidDatesHaveNoFileTime) {
  const CalendarTime invalid[] = {
      {1600, 12, 31, 0, 0, 0, 0}, {30828, 1, 1, 0, 0, 0, 0},   {2006, 0, 1, 0, 0, 0, 0},
      {2006, 13, 1, 0, 0, 0, 0},  {2006, 1, 32, 0, 0, 0, 0},   {2006, 1, 0, 0, 0, 0, 0},
      {2005, 2, 29, 0, 0, 0, 0},  {1900, 2, 29, 0, 0, 0, 0},   {2006, 4, 31, 0, 0, 0, 0},
      {2006, 1, 1, 24, 0, 0, 0},  {2006, 1, 1, 0, 60, 0, 0},   {2006, 1, 1, 0, 0, 60, 0},
      {2006, 1, 1, -1, 0, 0, 0},  {2006, 1, 1, 0, 0, 0, 1000},
  };
  for (const CalendarTime& t : invalid) {
    EXPECT_FALSE(file_time(t).has_value())
        << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
        << t.second << "." << t.milliseconds;
  }
  EXPECT_TRUE(file_time({2000, 2, 29, 0, 0, 0, 0}).has_value());
  EXPECT_FALSE(calendar_time(-1).has_value());
}

}  // namespace
}  // namespace talvex
