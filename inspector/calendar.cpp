#include "inspector/calendar.h"

namespace talvex {
namespace {

constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;
constexpr std::int64_t kSecondsPerDay = 86'400;

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap_year(y) ? 29 : kDays[m - 1];
}

// Days from 1 January 1601 (day 0) to the given date of the proleptic Gregorian calendar.
std::int64_t days_since_1601(int y, int m, int d) {
  // Counted from 1 March so that the leap day ends a year.
  const std::int64_t year = m <= 2 ? y - 1 : y;
  const std::int64_t era = year / 400;  // year >= 1600 here, never negative
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t month_index = m > 2 ? m - 3 : m + 9;
  const std::int64_t day_of_year = (153 * month_index + 2) / 5 + d - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  constexpr std::int64_t kDaysBefore1601 = 4 * 146'097 + 306;  // 1 March 0000 to 1 Jan 1601
  return era * 146'097 + day_of_era - kDaysBefore1601;
}

}  // namespace

bool valid_calendar_time(const CalendarTime& t) {
  if (t.year < kFirstYear || t.year > kLastYear) return false;
  if (t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > days_in_month(t.year, t.month)) return false;
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59) return false;
  if (t.second < 0 || t.second > 59) return false;
  return t.milliseconds >= 0 && t.milliseconds <= 999;
}

std::optional<std::int64_t> file_time(const CalendarTime& t) {
  if (!valid_calendar_time(t)) return std::nullopt;
  const std::int64_t seconds = days_since_1601(t.year, t.month, t.day) * kSecondsPerDay +
                               t.hour * 3600 + t.minute * 60 + t.second;
  return seconds * kTicksPerSecond + std::int64_t{t.milliseconds} * 10'000;
}

std::optional<CalendarTime> calendar_time(std::int64_t ticks) {
  if (ticks < 0) return std::nullopt;
  std::int64_t seconds = ticks / kTicksPerSecond;
  CalendarTime t;
  t.milliseconds = static_cast<int>((ticks % kTicksPerSecond) / 10'000);
  std::int64_t days = seconds / kSecondsPerDay;
  seconds %= kSecondsPerDay;
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  // Civil date from a day count (days since 1 March 0000 on a 400-year cycle).
  constexpr std::int64_t kDaysBefore1601 = 4 * 146'097 + 306;
  days += kDaysBefore1601;
  const std::int64_t era = days / 146'097;
  const std::int64_t day_of_era = days - era * 146'097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;
  t.day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  t.month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  t.year = static_cast<int>(year_of_era + era * 400 + (t.month <= 2 ? 1 : 0));
  return t;
}

}  // namespace talvex
