// The video folder's clean-up: which files it may delete, in which order, how much room it
// keeps (64-bit arithmetic to the edges), the age rule across a year's end, and a real
// folder of the platform with read-only and foreign files in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "capture/video_cleanup.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

namespace fs = std::filesystem;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::vector<std::string> names_of(const std::vector<StoredVideo>& videos) {
  std::vector<std::string> names;
  for (const StoredVideo& v : videos) names.push_back(v.name);
  return names;
}

TEST(VideoCleanupChoice, OnlyTheProgramsFinishedVideosOldestFirst) {
  const std::vector<FolderEntry> folder = {
      {"Talvex_Camera_2026-12-10_10-00-00_2026-12-10_10-00-30.avi", 10, false},
      {"Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40_2.avi", 10, false},
      {"Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40.avi", 10, false},
      {"Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-10.avi", 10, false},
      {"Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40_10.avi", 10, false},
      {"Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40_9.avi", 10, false},
      // A name of the right shape from the future (a clock set back) goes last.
      {"Talvex_Camera_2031-01-01_00-00-00_2031-01-01_00-01-00.avi", 10, false},
      {"Talvex_Camera_2025-01-01_00-00-00_2025-01-01_00-01-00.avi", 10, false},
      // Never these.
      {"Talvex_Camera_2024-01-01_00-00-00_2024-01-01_00-01-00.avi", 10, true},  // read-only
      {"Talvex_tmp.avi", 10, false},
      {"Talvex_tmp.dsc", 10, false},
      {"Talvex_unrecovered_2024-01-01_00-00-00.avi", 10, false},
      {"Talvex_2024-01-01_00-00-00.bmp", 10, false},
      {"Talvex.log", 10, false},
      {"Talvex.cfg", 10, false},
      {"holiday.avi", 10, false},
      {"Talvex_Camera_2024-13-01_00-00-00_2024-13-01_00-01-00.avi", 10, false},  // month 13
      {"Talvex_Camera_2024-01-01_00-00-00_2024-01-01_00-01-00_1.avi", 10, false},
      {"Talvex_Camera_2024-01-01_00-00-00_2024-01-01_00-01-00.avi.bak", 10, false},
      {"talvex_camera_2024-01-01_00-00-00_2024-01-01_00-01-00.avi", 10, false},
      {"Talvex_Camera_2024-01-01_00-00-00_2024-01-01_00-01-00.AVI", 10, false},
  };
  EXPECT_EQ(names_of(deletable_videos(folder)),
            (std::vector<std::string>{
                "Talvex_Camera_2025-01-01_00-00-00_2025-01-01_00-01-00.avi",
                "Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-10.avi",
                "Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40.avi",
                "Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40_2.avi",
                "Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40_9.avi",
                "Talvex_Camera_2026-12-10_09-00-00_2026-12-10_09-00-40_10.avi",
                "Talvex_Camera_2026-12-10_10-00-00_2026-12-10_10-00-30.avi",
                "Talvex_Camera_2031-01-01_00-00-00_2031-01-01_00-01-00.avi",
            }));
}

TEST(VideoCleanupSpace, TargetAndMarginTo64BitEdges) {
  struct Case {
    std::uint64_t keep_mb, rate, drive, target;
  };
  const Case cases[] = {
      {0, 1000, 1'000'000'000'000, 0},          // no space rule, whatever the hour
      {1, 0, 0, kMiB},                          // no rate, no drive figure
      {1, 1000, 1'000'000'000'000, 3'600'000},  // the hour is larger
      {1, 1000, 10'000'000, kMiB},              // the hour capped at a tenth of 10 MB
      {1, 1000, 30'000'000, 3'000'000},         // ... of 30 MB, above the MiB
      {2048, 52'000, 500'000'000'000, 2048 * kMiB},
      {10'000'000, 0, 0, 10'000'000 * kMiB},
      {std::uint64_t{1} << 44, 0, 0, kMax},  // MiB to bytes saturates
      {1, kMax, kMax, kMax / 10},
      {1, kMax / 3600 + 1, std::uint64_t{1} << 63, (std::uint64_t{1} << 63) / 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.keep_mb << " MB, " << c.rate << " B/s, " << c.drive);
    EXPECT_EQ(space_target(c.keep_mb, c.rate, c.drive), c.target);
  }
  EXPECT_EQ(with_margin(0), 0u);
  EXPECT_EQ(with_margin(1000), 1100u);
  EXPECT_EQ(with_margin(std::uint64_t{1} << 63),
            (std::uint64_t{1} << 63) + (std::uint64_t{1} << 63) / 10);
  EXPECT_EQ(with_margin(kMax - 5), kMax);
  EXPECT_EQ(with_margin(kMax), kMax);
}

TEST(VideoCleanupSpace, RateOfTheNewestTenVideosOfASecondOrMore) {
  std::vector<FolderEntry> folder;
  // Twelve of 30 s; the two oldest of 300 bytes a second, the newer ten of 100.
  for (int i = 0; i < 12; ++i) {
    char name[80];
    std::snprintf(name, sizeof name,
                  "Talvex_Camera_2026-12-10_10-%02d-00_2026-12-10_10-%02d-30.avi", i, i);
    folder.push_back({name, (i < 2 ? 300u : 100u) * 30u, false});
  }
  // Without length (start and end in the same second): left out.
  folder.push_back({"Talvex_Camera_2026-12-10_11-00-00_2026-12-10_11-00-00.avi", 1u << 30, false});
  EXPECT_EQ(recording_rate(deletable_videos(folder)), 100u);
  EXPECT_EQ(recording_rate({}), 0u);
}

TEST(VideoCleanupAge, OlderThanItsDaysAcrossTheYearsEnd) {
  const CalendarTime now{2027, 1, 5, 0, 0, 0, 0};
  struct Case {
    CalendarTime end;
    int days;
    bool old;
  };
  const Case cases[] = {
      {{2026, 12, 5, 23, 59, 59, 0}, 30, true},
      {{2026, 12, 6, 0, 0, 0, 0}, 30, false},  // exactly 30 days
      {{2026, 12, 31, 23, 59, 59, 0}, 5, false},
      {{2026, 12, 31, 23, 59, 59, 0}, 4, true},  // four days and a second
      {{2024, 2, 29, 12, 0, 0, 0}, 1040, true},  // a leap day on the way
      {{2024, 2, 29, 12, 0, 0, 0}, 1041, false},
      {{2026, 1, 5, 0, 0, 0, 0}, 0, false},  // no age rule
      {{2031, 1, 1, 0, 0, 0, 0}, 1, false},  // from the future
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.end.year << "-" << c.end.month << "-" << c.end.day << " "
                                      << c.days << " days");
    StoredVideo v;
    v.end = c.end;
    EXPECT_EQ(older_than(v, now, c.days), c.old);
  }
  EXPECT_EQ(
      calendar_seconds({2027, 1, 1, 0, 0, 0, 0}) - calendar_seconds({2026, 12, 31, 0, 0, 0, 0}),
      86400);
  EXPECT_EQ(
      calendar_seconds({2024, 3, 1, 0, 0, 0, 0}) - calendar_seconds({2024, 2, 28, 0, 0, 0, 0}),
      2 * 86400);
}

// The platform's own folder: what a clean-up that must free more than there is deletes,
// and what it leaves.
TEST(VideoCleanupFolder, DeletesOnlyDeletableVideosOfTheFolder) {
  testing::ScratchDirectory dir;
  const std::vector<std::string> deletable = {
      "Talvex_Camera_2026-11-01_10-00-00_2026-11-01_10-00-30.avi",
      "Talvex_Camera_2026-11-01_10-00-00_2026-11-01_10-00-30_2.avi",
      "Talvex_Camera_2026-12-01_10-00-00_2026-12-01_10-00-30.avi",
  };
  const std::vector<std::string> kept = {
      "Talvex_Camera_2026-10-01_10-00-00_2026-10-01_10-00-30.avi",  // read-only below
      "Talvex_tmp.avi",
      "Talvex_unrecovered_2026-09-01_10-00-00.avi",
      "Talvex.log",
      "Talvex_2026-11-01_10-00-05.bmp",
      "notes.txt",
  };
  for (const auto& n : deletable) testing::write_bytes(n, std::string(1000, 'v'));
  for (const auto& n : kept) testing::write_bytes(n, std::string(1000, 'k'));
  fs::permissions(kept[0],
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::create_directory("Talvex_Camera_2026-08-01_10-00-00_2026-08-01_10-00-30.avi");
  const auto folder = make_video_folder(fs::current_path().string());
  DriveSpace space;
  ASSERT_TRUE(folder->space(space));
  EXPECT_GT(space.total, 0u);
  EXPECT_LE(space.free, space.total);

  CleanupRules rules;
  rules.keep_free_mb = 10'000'000;  // 10 TB: more than this drive has
  const CleanupReport report = clean_up_videos(*folder, rules, {2026, 12, 10, 0, 0, 0, 0});
  EXPECT_EQ(report.deleted, deletable.size());
  EXPECT_EQ(report.freed, 3000u);
  EXPECT_EQ(report.target, 10'000'000 * kMiB);
  for (const auto& n : deletable) EXPECT_FALSE(fs::exists(n)) << n;
  for (const auto& n : kept) EXPECT_TRUE(fs::exists(n)) << n;
  EXPECT_TRUE(fs::is_directory("Talvex_Camera_2026-08-01_10-00-00_2026-08-01_10-00-30.avi"));

  // With room to spare, only the age rule deletes.
  testing::write_bytes("Talvex_Camera_2026-11-01_10-00-00_2026-11-01_10-00-30.avi", "x");
  testing::write_bytes("Talvex_Camera_2026-12-09_10-00-00_2026-12-09_10-00-30.avi", "x");
  rules.keep_free_mb = 1;
  rules.max_age_days = 7;
  EXPECT_EQ(clean_up_videos(*folder, rules, {2026, 12, 10, 0, 0, 0, 0}).deleted, 1u);
  EXPECT_TRUE(fs::exists("Talvex_Camera_2026-12-09_10-00-00_2026-12-09_10-00-30.avi"));
  // Both rules off: nothing at all.
  rules = {};
  EXPECT_EQ(clean_up_videos(*folder, rules, {2030, 1, 1, 0, 0, 0, 0}).deleted, 0u);
  EXPECT_TRUE(fs::exists("Talvex_Camera_2026-12-09_10-00-00_2026-12-09_10-00-30.avi"));
  EXPECT_TRUE(fs::exists(kept[0]));
  fs::permissions(kept[0], fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace
}  // namespace talvex
