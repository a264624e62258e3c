// The start-up recovery on the platform, for real: the dated name of a recording cut short
// across the clock changes of the process's time zone (set for the test: Europe/Berlin).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/avi_recovery.h"
#include "capture/avi_writer.h"
#include "capture/working_files.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

AviStream mjpeg_stream() {
  RecordingFormat f;
  f.major_type = kMediaTypeVideo;
  f.format_type = kFormatVideoInfo;
  f.frame_period = 10000000 / 15;
  f.format.assign(88, 0);
  const std::int32_t header = 40, width = 320, height = 240;
  const std::int16_t planes = 1, bits = 24;
  std::memcpy(f.format.data() + 48, &header, 4);
  std::memcpy(f.format.data() + 52, &width, 4);
  std::memcpy(f.format.data() + 56, &height, 4);
  std::memcpy(f.format.data() + 60, &planes, 2);
  std::memcpy(f.format.data() + 62, &bits, 2);
  std::memcpy(f.format.data() + 64, "MJPG", 4);
  return *avi_stream(f);
}

// What a killed recorder leaves: whole headers with the start, then `frames` frames.
void killed_recording(const CalendarTime& start, int frames) {
  AviWriter writer;
  ASSERT_TRUE(writer.open(kTempRecordingName, mjpeg_stream(), start));
  const std::vector<std::uint8_t> frame(1000, 0x5A);
  for (int i = 0; i < frames; ++i) {
    ASSERT_TRUE(writer.append(frame.data(), frame.size(), true, i * 666666));
  }
}

void set_last_write_utc(const SYSTEMTIME& utc) {
  FILETIME when;
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &when));
  HANDLE file = ::CreateFileA(kTempRecordingName, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const BOOL set = ::SetFileTime(file, nullptr, nullptr, &when);
  ::CloseHandle(file);
  ASSERT_TRUE(set);
}

// The end is the last write in the local time of that moment, whatever today's offset is:
// a summer moment keeps +2 in winter and a winter one +1 in summer. A crash in the hour that
// the clock goes back can end "before" its start: that file is kept aside.
TEST(WinRecovery, TheEndFollowsTheClockChangesOfTheLastWrite) {
  TIME_ZONE_INFORMATION zone;
  ASSERT_NE(::GetTimeZoneInformation(&zone), TIME_ZONE_ID_INVALID);
  ASSERT_EQ(zone.Bias, -60) << "the test runs with TZ=Europe/Berlin";
  ASSERT_EQ(zone.DaylightBias, -60) << "the test runs with TZ=Europe/Berlin";
  const struct {
    const char* name;
    CalendarTime start;  // local
    SYSTEMTIME written;  // UTC
    const char* video;   // nothing when kept aside
  } cases[] = {
      {"before the clock goes forward",
       {2026, 3, 29, 1, 50, 0, 0},
       {2026, 3, 0, 29, 0, 55, 0, 0},
       "Talvex_Camera_2026-03-29_01-50-00_2026-03-29_01-55-00.avi"},
      {"across the clock going forward",
       {2026, 3, 29, 1, 50, 0, 0},
       {2026, 3, 0, 29, 1, 5, 0, 0},
       "Talvex_Camera_2026-03-29_01-50-00_2026-03-29_03-05-00.avi"},
      {"in summer time",
       {2026, 7, 1, 12, 0, 0, 0},
       {2026, 7, 0, 1, 10, 30, 0, 0},
       "Talvex_Camera_2026-07-01_12-00-00_2026-07-01_12-30-00.avi"},
      {"in winter time",
       {2026, 12, 1, 12, 0, 0, 0},
       {2026, 12, 0, 1, 11, 30, 0, 0},
       "Talvex_Camera_2026-12-01_12-00-00_2026-12-01_12-30-00.avi"},
      {"before the clock goes back",
       {2026, 10, 25, 2, 50, 0, 0},
       {2026, 10, 0, 25, 0, 55, 0, 0},
       "Talvex_Camera_2026-10-25_02-50-00_2026-10-25_02-55-00.avi"},
      {"across the clock going back",
       {2026, 10, 25, 2, 10, 0, 0},
       {2026, 10, 0, 25, 1, 20, 0, 0},
       "Talvex_Camera_2026-10-25_02-10-00_2026-10-25_02-20-00.avi"},
      {"ending in the repeated hour before its start",
       {2026, 10, 25, 2, 50, 0, 0},
       {2026, 10, 0, 25, 1, 10, 0, 0},
       nullptr},
  };
  for (const auto& c : cases) {
    testing::ScratchDirectory dir;
    killed_recording(c.start, 5);
    set_last_write_utc(c.written);
    const RecoveryReport report = recover_interrupted_recording();
    if (c.video) {
      EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kRecovered) << c.name;
      EXPECT_EQ(report.name, c.video) << c.name;
      EXPECT_EQ(report.frames, 5u) << c.name;
    } else {
      EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kKept) << c.name;
      EXPECT_EQ(report.name, "Talvex_unrecovered_2026-10-25_02-10-00.avi") << c.name;
    }
  }
}

}  // namespace
}  // namespace talvex
