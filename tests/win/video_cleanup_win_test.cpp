// The clean-up on the platform's own folder: a video another program holds open without
// letting it go (the inspector playing it) and one with the read-only attribute are
// skipped, and the clean-up goes on with the next; the drive's figures are 64-bit.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "capture/video_cleanup.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

bool exists(const std::string& name) {
  return ::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(VideoCleanupWin, SkipsAVideoInUseAndAReadOnlyOneAndGoesOn) {
  testing::ScratchDirectory dir;
  const std::string held = "Talvex_Camera_2026-11-01_10-00-00_2026-11-01_10-00-30.avi";
  const std::string read_only = "Talvex_Camera_2026-11-02_10-00-00_2026-11-02_10-00-30.avi";
  const std::string next = "Talvex_Camera_2026-11-03_10-00-00_2026-11-03_10-00-30.avi";
  for (const std::string& n : {held, read_only, next}) testing::write_bytes(n, "video");
  ASSERT_TRUE(::SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  // Open as a player opens it: sharing reads, not deletion.
  const HANDLE player = ::CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(player, INVALID_HANDLE_VALUE);

  const auto folder = make_video_folder(std::filesystem::current_path().string());
  DriveSpace space;
  ASSERT_TRUE(folder->space(space));
  EXPECT_GT(space.total, std::uint64_t{1} << 20);
  CleanupRules rules;
  rules.keep_free_mb = 10'000'000;
  const CleanupReport report = clean_up_videos(*folder, rules, {2026, 12, 10, 0, 0, 0, 0});
  ::CloseHandle(player);
  EXPECT_EQ(report.refused, 1u);
  EXPECT_EQ(report.deleted, 1u);
  EXPECT_TRUE(exists(held));
  EXPECT_TRUE(exists(read_only));
  EXPECT_FALSE(exists(next));
  ::SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace talvex
