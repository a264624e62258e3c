#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "inspector/video_list.h"

namespace talvex {
namespace {

// A name as the capture program writes it, with another device part if wanted.
std::string video_name(const CalendarTime& s, const CalendarTime& e,
                       const std::string& device = "Camera") {
  char text[160];
  std::snprintf(text, sizeof text,
                "Talvex_%s_%d-%02d-%02d_%02d-%02d-%02d_%d-%02d-%02d_%02d-%02d-%02d.avi",
                device.c_str(), s.year, s.month, s.day, s.hour, s.minute, s.second, e.year, e.month,
                e.day, e.hour, e.minute, e.second);
  return text;
}

FilterRange range(const CalendarTime& lower, const CalendarTime& upper) {
  return FilterRange{lower, lower, upper, upper};
}

const CalendarTime kLower{2006, 3, 1, 8, 0, 0, 0};
const CalendarTime kUpper{2006, 3, 31, 18, 0, 0, 0};

TEST(InspectorVideoList, EntryFromAName) {
  VideoTable table;
  RowTexts texts;
  const std::string name = "Talvex_USB-Video-Cam_2006-03-07_09-05-00_2006-03-07_09-05-30.avi";
  ASSERT_TRUE(table.make_video_entry(name, 7, &texts));
  const VideoEntry& e = table.slots[7];
  EXPECT_EQ(e.file_name, name);
  EXPECT_EQ(e.device_name, "USB Video Cam");
  EXPECT_EQ(texts.start, "2006-03-07 at 09:05:00");
  EXPECT_EQ(texts.end, "2006-03-07 at 09:05:30");
  EXPECT_EQ(texts.device, "USB Video Cam");
  EXPECT_EQ((std::vector<int>{e.start.year, e.start.month, e.start.day, e.start.hour,
                              e.start.minute, e.start.second}),
            (std::vector<int>{2006, 3, 7, 9, 5, 0}));
  EXPECT_EQ(e.end.second, 30);

  // The shortest accepted name has an empty device part.
  const std::string shortest = "Talvex__2006-03-07_09-05-00_2006-03-07_09-05-30.avi";
  ASSERT_EQ(shortest.size(), kMinimumVideoNameLength);
  ASSERT_TRUE(table.make_video_entry(shortest, 0, &texts));
  EXPECT_EQ(table.slots[0].device_name, "");
}

TEST(InspectorVideoList, NamesWithoutTheLayoutAreNeitherEnteredNorInRange) {
  const std::string good = video_name({2006, 3, 7, 9, 5, 0}, {2006, 3, 7, 9, 5, 30});
  struct Case {
    const char* what;
    std::string name;
    bool entered;  // make_video_entry succeeds (the fields need not be numbers)
  } cases[] = {
      {"too short", good.substr(0, 50), false},
      {"fields cut short after a long device",
       "Talvex_LongDeviceNameHere_2006-03-07_09-05-00_2006-0", false},
      {"no underscores", std::string(60, 'x'), false},
      {"one underscore", "Talvex-Camera-2006-03-07-09-05-00-2006-03-07-09-05-30.avi", false},
      {"150 characters",
       video_name({2006, 3, 7, 9, 5, 0}, {2006, 3, 7, 9, 5, 30}, std::string(90, 'C')), false},
      {"letters for digits", "Talvex_Camera_20x6-03-07_09-05-00_2006-03-07_09-05-30.avi", true},
      {"blank field", "Talvex_Camera_2006-  -07_09-05-00_2006-03-07_09-05-30.avi", true},
      {"month 13", video_name({2006, 13, 7, 9, 5, 0}, {2006, 13, 7, 9, 5, 30}), true},
      {"day 32", video_name({2006, 3, 32, 9, 5, 0}, {2006, 3, 32, 9, 5, 30}), true},
      {"29 February 2006", video_name({2006, 2, 29, 9, 5, 0}, {2006, 2, 29, 9, 5, 30}), true},
      {"hour 24", video_name({2006, 3, 7, 24, 5, 0}, {2006, 3, 7, 24, 5, 30}), true},
      {"non-ASCII", "Talvex_Cam\xe9ra\xff_2006-\xc3\xa9-07_09-05-00_2006-\x80\x81-07_09-05-30.avi",
       true},
      {"device with an underscore", "Talvex_Cam_1_2006-03-07_09-05-00_2006-03-07_09-05-30.avi",
       true},
  };
  for (const Case& c : cases) {
    VideoTable table;
    RowTexts texts;
    EXPECT_EQ(table.make_video_entry(c.name, 0, &texts), c.entered) << c.what;
    table.fill({c.name}, FilterRange{kLower, kLower, kUpper, kUpper},
               [](int, const RowTexts&) { return true; });
    EXPECT_EQ(table.listed_count, 0) << c.what;
  }
  VideoTable table;
  EXPECT_FALSE(table.make_video_entry(good, -1, nullptr));
  EXPECT_FALSE(table.make_video_entry(good, 100, nullptr));
  EXPECT_TRUE(table.make_video_entry(good, 99, nullptr));
}

TEST(InspectorVideoList, FieldsAreReadAsPercentD) {
  // Leading blanks and a sign are accepted; the number ends at the first non-digit.
  const auto times = read_video_times("Talvex_Camera_2006- 3-+7_9x-05-00_2006-03-07_09-05-30.avi");
  ASSERT_TRUE(times);
  EXPECT_EQ(times->start.month, 3);
  EXPECT_EQ(times->start.day, 7);
  EXPECT_EQ(times->start.hour, 9);
  EXPECT_TRUE(
      video_in_range("Talvex_Camera_2006- 3-+7_9x-05-00_2006-03-07_09-05-30.avi", kLower, kUpper));
}

TEST(InspectorVideoList, RangeBoundsAreInclusiveToTheSecond) {
  struct Case {
    const char* what;
    CalendarTime start, end;
    bool listed;
  } cases[] = {
      {"inside", {2006, 3, 7, 9, 5, 0}, {2006, 3, 7, 9, 5, 30}, true},
      {"end equals the lower bound", {2006, 3, 1, 7, 59, 30}, {2006, 3, 1, 8, 0, 0}, true},
      {"end a second before it", {2006, 3, 1, 7, 59, 29}, {2006, 3, 1, 7, 59, 59}, false},
      {"start equals the upper bound", {2006, 3, 31, 18, 0, 0}, {2006, 3, 31, 18, 0, 30}, true},
      {"start a second after it", {2006, 3, 31, 18, 0, 1}, {2006, 3, 31, 18, 0, 31}, false},
      {"spans the whole range", {2006, 2, 28, 0, 0, 0}, {2006, 4, 1, 0, 0, 0}, false},
      {"starts before, ends inside", {2006, 2, 28, 23, 59, 50}, {2006, 3, 1, 8, 0, 20}, true},
      {"another year", {2005, 3, 7, 9, 5, 0}, {2005, 3, 7, 9, 5, 30}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(video_in_range(video_name(c.start, c.end), kLower, kUpper), c.listed) << c.what;
  }
}

TEST(InspectorVideoList, AVideoOverMidnightIsListedForEitherDay) {
  const std::string name = video_name({2006, 3, 7, 23, 59, 50}, {2006, 3, 8, 0, 0, 20});
  EXPECT_TRUE(video_in_range(name, {2006, 3, 7, 0, 0, 0}, {2006, 3, 7, 23, 59, 59}));
  EXPECT_TRUE(video_in_range(name, {2006, 3, 8, 0, 0, 0}, {2006, 3, 8, 23, 59, 59}));
  EXPECT_FALSE(video_in_range(name, {2006, 3, 9, 0, 0, 0}, {2006, 3, 9, 23, 59, 59}));
}

TEST(InspectorVideoList, DefaultRangeRunsFromNewYearToNow) {
  const FilterRange r = default_filter_range({2006, 12, 25, 7, 5, 3, 640});
  const CalendarTime lo = r.lower(), hi = r.upper();
  EXPECT_EQ((std::vector<int>{lo.year, lo.month, lo.day, lo.hour, lo.minute, lo.second}),
            (std::vector<int>{2006, 1, 1, 0, 0, 0}));
  EXPECT_EQ(
      (std::vector<int>{hi.year, hi.month, hi.day, hi.hour, hi.minute, hi.second, hi.milliseconds}),
      (std::vector<int>{2006, 12, 25, 7, 5, 3, 0}));
  // A video made after that moment is outside it.
  EXPECT_FALSE(
      video_in_range(video_name({2006, 12, 25, 7, 5, 4}, {2006, 12, 25, 7, 5, 9}), lo, hi));
}

// Fills a table and keeps the rows as the list would get them.
struct Listing {
  VideoTable table;
  std::vector<std::pair<int, RowTexts>> rows;
  void fill(const std::vector<std::string>& names, const FilterRange& r) {
    rows.clear();
    table.fill(names, r, [this](int slot, const RowTexts& texts) {
      rows.emplace_back(slot, texts);
      return true;
    });
  }
};

// However the folder orders its names (name order on NTFS: the oldest first), the list
// holds the newest hundred, in their enumeration order.
TEST(InspectorVideoList, TheHundredNewestInEnumerationOrderShownNewestFirst) {
  for (const bool oldest_first : {true, false}) {
    std::vector<std::string> names;
    // 3,000 videos on distinct minutes, enumerated oldest first, or in a scrambled order.
    for (int i = 0; i < 3000; ++i) {
      const int k = oldest_first ? i : (i * 37) % 3000;
      const int day = 1 + k / 1440, hour = (k / 60) % 24, minute = k % 60;
      names.push_back(
          video_name({2006, 3, day, hour, minute, 0}, {2006, 3, day, hour, minute, 30}));
    }
    names.insert(names.begin() + 3, "Talvex_tmp.avi");
    names.insert(names.begin() + 5, "Talvex_insp.avi");
    Listing l;
    l.fill(names, range(kLower, kUpper));
    ASSERT_EQ(l.table.listed_count, 100);
    ASSERT_EQ(l.rows.size(), 100u);
    std::vector<std::string> newest(names.begin(), names.end());
    newest.erase(std::remove_if(newest.begin(), newest.end(),
                                [](const std::string& n) { return n.size() < 20; }),
                 newest.end());
    std::sort(newest.begin(), newest.end(), std::greater<>());  // the names sort by their start
    newest.resize(100);
    std::vector<std::string> expected;  // the newest hundred, in enumeration order
    for (const std::string& n : names) {
      if (std::find(newest.begin(), newest.end(), n) != newest.end()) expected.push_back(n);
    }
    for (int slot = 0; slot < 100; ++slot) {
      EXPECT_EQ(l.table.slots[slot].file_name, expected[slot]) << slot;
      EXPECT_EQ(l.rows[slot].first, slot);
    }
    EXPECT_EQ(l.table.slots[l.table.newest_first()[0]].file_name, newest[0]) << oldest_first;
    const std::vector<int> order = l.table.newest_first();
    ASSERT_EQ(order.size(), 100u);
    for (std::size_t i = 1; i < order.size(); ++i) {
      EXPECT_EQ(l.table.compare_start_times(order[i], order[i - 1]), 1) << i;
    }
  }
}

TEST(InspectorVideoList, WorkingFilesAndFailedRowsAreNotListed) {
  const std::string a = video_name({2006, 3, 7, 9, 0, 0}, {2006, 3, 7, 9, 0, 30});
  const std::string b = video_name({2006, 3, 8, 9, 0, 0}, {2006, 3, 8, 9, 0, 30});
  VideoTable table;
  int calls = 0;
  // A row the list refuses does not count; the next video takes its slot.
  table.fill({"Talvex_tmp.avi", a, "Talvex_insp.avi", b, "Talvex_short.avi"}, range(kLower, kUpper),
             [&](int slot, const RowTexts&) { return ++calls != 1 || slot != 0; });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(table.listed_count, 1);
  EXPECT_EQ(table.slots[0].file_name, b);

  // A refill starts from slot 0.
  table.fill({}, range(kLower, kUpper), [](int, const RowTexts&) { return true; });
  EXPECT_EQ(table.listed_count, 0);
}

TEST(InspectorVideoList, EqualStartsCompareAsMinusOneBothWays) {
  VideoTable table;
  ASSERT_TRUE(table.make_video_entry(video_name({2006, 3, 7, 9, 0, 0}, {2006, 3, 7, 9, 0, 30}), 0,
                                     nullptr));
  ASSERT_TRUE(table.make_video_entry(video_name({2006, 3, 7, 9, 0, 0}, {2006, 3, 7, 9, 0, 59}), 1,
                                     nullptr));
  ASSERT_TRUE(table.make_video_entry(video_name({2006, 3, 7, 9, 0, 1}, {2006, 3, 7, 9, 0, 59}), 2,
                                     nullptr));
  EXPECT_EQ(table.compare_start_times(0, 1), -1);
  EXPECT_EQ(table.compare_start_times(1, 0), -1);
  EXPECT_EQ(table.compare_start_times(0, 2), 1);
  EXPECT_EQ(table.compare_start_times(2, 0), -1);
}

}  // namespace
}  // namespace talvex
