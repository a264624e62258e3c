// Recovery of recordings over real AVI files: an MJPEG recording made by ffmpeg (headers,
// OpenDML header list and JUNK padding as a finished multiplexer writes them), the same
// frames as a killed program leaves them (zeros where the headers belong, then bare frame
// chunks), both cut at every kind of boundary. What comes out is checked by ffprobe and
// ffmpeg.
#include "capture/avi_recovery.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "capture/recording.h"
#include "capture/recording_stream.h"
#include "capture/video_name.h"
#include "capture/working_files.h"
#include "tests/core/avi_probe.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

namespace fs = std::filesystem;
using testing::probe;
using testing::Probe;
using testing::read_bytes;
using testing::run;
using testing::write_bytes;

constexpr int kFrames = 30;
constexpr std::size_t kKilledZeros = 64556;  // what the multiplexer kept for its headers

std::uint32_t le32(const std::string& s, std::size_t at) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// One real recording, made once for all tests of this file.
class Recording {
 public:
  static const Recording& get() {
    static Recording r;
    return r;
  }
  std::string finished;                 // as the platform's multiplexer finishes it
  std::string killed;                   // as a killed program leaves it
  std::vector<std::size_t> chunk_ends;  // in `killed`, after each frame chunk
  RecordingFormat format;

 private:
  Recording() {
    const fs::path dir = fs::temp_directory_path() / ("talvex_avi_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "made.avi").string();
    run("ffmpeg -y -v error -f lavfi -i testsrc=size=320x240:rate=15 -frames:v " +
        std::to_string(kFrames) + " -c:v mjpeg -q:v 5 '" + file + "'");
    finished = read_bytes(file);
    fs::remove_all(dir);
    // The movi list's frame chunks, as they stand.
    const std::size_t movi = finished.find("movi");
    const std::size_t index = finished.find("idx1", movi);
    std::string chunks = finished.substr(movi + 4, index - movi - 4);
    killed = std::string(kKilledZeros, '\0') + chunks;
    for (std::size_t p = 0; p + 8 <= chunks.size();) {
      const std::uint32_t n = le32(chunks, p + 4);
      p += 8 + n + (n & 1);
      chunk_ends.push_back(kKilledZeros + p);
    }
    // The descriptor's format: a VIDEOINFOHEADER around the file's BITMAPINFOHEADER.
    const std::size_t strf = finished.find("strf");
    const std::uint32_t strf_size = le32(finished, strf + 4);
    format.major_type = kMediaTypeVideo;
    format.format_type = kFormatVideoInfo;
    format.frame_period = 10000000 / 15;
    format.format.assign(48, 0);
    std::memcpy(format.format.data() + 40, &format.frame_period, 8);
    format.format.insert(format.format.end(), finished.begin() + strf + 8,
                         finished.begin() + strf + 8 + strf_size);
  }
};

AviScan scan_file(const std::string& name) {
  const std::string bytes = read_bytes(name);
  MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  return scan_avi(source);
}

class RecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(Recording::get().finished.size(), 10000u) << "ffmpeg made no recording";
    ASSERT_EQ(Recording::get().chunk_ends.size(), static_cast<std::size_t>(kFrames));
  }
  static void describe(const CalendarTime& start) {
    ASSERT_TRUE(write_descriptor_file(RecordingDescriptor{Recording::get().format, start}));
  }
  static std::vector<std::string> files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(".")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  testing::ScratchDirectory dir_;
};

TEST_F(RecoveryTest, ScanFindsEveryWholeFrameUpToTheFirstTornChunk) {
  const Recording& r = Recording::get();
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t frames;
    bool intact;
  } cases[] = {
      {"finished", r.finished, kFrames, true},
      {"killed", r.killed, kFrames, false},
      {"killed inside the zeros", r.killed.substr(0, 1000), 0, false},
      {"killed inside the first chunk header", r.killed.substr(0, kKilledZeros + 5), 0, false},
      {"killed after the first header", r.killed.substr(0, kKilledZeros + 8), 0, false},
      {"killed inside frame 8", r.killed.substr(0, r.chunk_ends[7] + 100), 8, false},
      {"killed after frame 8", r.killed.substr(0, r.chunk_ends[7]), 8, false},
      {"zeros after frame 8", r.killed.substr(0, r.chunk_ends[7]) + std::string(5000, '\0'), 8,
       false},
      {"finished, cut inside hdrl", r.finished.substr(0, 100), 0, false},
      {"finished, cut before idx1", r.finished.substr(0, r.finished.find("idx1")), kFrames, false},
      {"finished, cut inside idx1", r.finished.substr(0, r.finished.find("idx1") + 40), kFrames,
       false},
      {"garbage after frame 3", r.killed.substr(0, r.chunk_ends[2]) + "\x01\x02garbage!", 3, false},
  };
  for (const Case& c : cases) {
    MemorySource source({reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()});
    const AviScan scan = scan_avi(source);
    EXPECT_EQ(scan.frames.size(), c.frames) << c.name;
    EXPECT_EQ(scan.intact, c.intact) << c.name;
  }
}

// A killed program's temporary file, cut at each kind of boundary, recovered at start-up.
TEST_F(RecoveryTest, KilledRecordingsCutAnywhereAreRebuiltIntoPlayableVideos) {
  const Recording& r = Recording::get();
  struct Case {
    const char* name;
    std::size_t cut;
    int frames;
  } cases[] = {
      {"whole", r.killed.size(), kFrames},
      {"inside frame 12's data", r.chunk_ends[11] + 333, 12},
      {"inside frame 2's header", r.chunk_ends[0] + 6, 1},
      {"after the last full chunk", r.chunk_ends[kFrames - 2], kFrames - 1},
      {"after one frame", r.chunk_ends[0], 1},
  };
  const CalendarTime start{2006, 12, 25, 7, 5, 3, 0};
  for (const Case& c : cases) {
    testing::ScratchDirectory dir;
    write_bytes(kTempRecordingName, r.killed.substr(0, c.cut));
    describe(start);
    const RecoveryReport report = recover_interrupted_recording();
    ASSERT_EQ(report.outcome, RecoveryReport::Outcome::kRecovered) << c.name;
    EXPECT_EQ(report.frames, static_cast<std::size_t>(c.frames)) << c.name;
    // Named from the descriptor's start and the file's last write.
    EXPECT_EQ(report.name.substr(0, 34), "Talvex_Camera_2006-12-25_07-05-03_") << c.name;
    EXPECT_EQ(report.name.size(), 57u) << c.name;
    EXPECT_EQ(files(), std::vector<std::string>{report.name}) << c.name;
    const Probe p = probe(report.name);
    EXPECT_EQ(p.frames, c.frames) << c.name;
    EXPECT_NEAR(p.duration, c.frames / 15.0, 0.07) << c.name;
    EXPECT_EQ(p.errors, "") << c.name;
  }
}

// Finished but not renamed: renamed as it is, no copy.
TEST_F(RecoveryTest, AFinishedFileIsRenamedAsItIs) {
  write_bytes(kTempRecordingName, Recording::get().finished);
  describe({2006, 1, 2, 3, 4, 5, 0});
  struct stat before, after;
  ASSERT_EQ(::stat(kTempRecordingName, &before), 0);
  const RecoveryReport report = recover_interrupted_recording();
  ASSERT_EQ(report.outcome, RecoveryReport::Outcome::kRecovered);
  EXPECT_EQ(read_bytes(report.name), Recording::get().finished);
  ASSERT_EQ(::stat(report.name.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(files().size(), 1u);
}

TEST_F(RecoveryTest, WhatCannotBeRecoveredIsLeftOrKeptAside) {
  const Recording& r = Recording::get();
  // No frame: left to be rewritten, a stray descriptor removed.
  write_bytes(kTempRecordingName, r.killed.substr(0, 2000));
  describe({2006, 1, 2, 3, 4, 5, 0});
  EXPECT_EQ(recover_interrupted_recording().outcome, RecoveryReport::Outcome::kNothing);
  EXPECT_EQ(files(), std::vector<std::string>{kTempRecordingName});

  // Frames without a usable descriptor (missing, torn, bit-flipped): kept untouched under
  // a name that no recording writes and that the inspector does not list.
  std::vector<std::uint8_t> good = descriptor_bytes({r.format, {2006, 1, 2, 3, 4, 5, 0}});
  std::string flipped(good.begin(), good.end());
  flipped[60] ^= 1;
  for (const std::string& descriptor :
       {std::string(), std::string(good.begin(), good.begin() + 50), flipped}) {
    testing::ScratchDirectory scratch;
    write_bytes(kTempRecordingName, r.killed);
    if (!descriptor.empty()) write_bytes(kRecordingDescriptorName, descriptor);
    const RecoveryReport report = recover_interrupted_recording();
    EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kKept);
    EXPECT_EQ(report.name.rfind("Talvex_unrecovered_", 0), 0u) << report.name;
    EXPECT_LT(report.name.size(), 51u);
    EXPECT_EQ(read_bytes(report.name), r.killed);
    EXPECT_EQ(files(), std::vector<std::string>{report.name});
  }
}

// A file of empty "00dc" chunks, as damage or malice can leave it: the scan's table stops
// at the most frames one recovery takes, and a file of more is kept aside untouched
// instead of rebuilt, so that the start-up neither runs out of memory nor fails again.
TEST_F(RecoveryTest, AFileOfMoreFramesThanOneRecoveryTakesIsKeptAside) {
  const Recording& r = Recording::get();
  // The real frames, then empty chunks up to one more than one recovery takes.
  std::string bytes = r.killed;
  const std::size_t empty = kMostRecoveredFrames + 1 - kFrames;
  bytes.resize(r.killed.size() + 8 * empty, '\0');
  for (std::size_t i = 0; i < empty; ++i) std::memcpy(&bytes[r.killed.size() + 8 * i], "00dc", 4);
  for (const bool one_more : {false, true}) {
    const std::size_t size = one_more ? bytes.size() : bytes.size() - 8;
    MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), size});
    const AviScan scan = scan_avi(source);
    EXPECT_EQ(scan.frames.size(), kMostRecoveredFrames) << one_more;
    EXPECT_EQ(scan.over_limit, one_more);
    EXPECT_FALSE(scan.intact) << one_more;
  }
  write_bytes(kTempRecordingName, bytes);
  describe({2006, 1, 2, 3, 4, 5, 0});
  const RecoveryReport report = recover_interrupted_recording();
  EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kKept);
  EXPECT_EQ(report.name.rfind("Talvex_unrecovered_", 0), 0u) << report.name;
  EXPECT_EQ(files(), std::vector<std::string>{report.name});
  // Untouched.
  std::string kept(bytes.size() + 1, '\0');
  std::FILE* f = std::fopen(report.name.c_str(), "rb");
  ASSERT_TRUE(f);
  kept.resize(std::fread(kept.data(), 1, kept.size(), f));
  std::fclose(f);
  EXPECT_TRUE(kept == bytes);
}

// A start and an end that give no name the inspector reads back: a descriptor whose start
// fields passed its check sum but are no date, or an end before the start. The recording
// is kept aside untouched, never saved under a name that is not listed or lies.
TEST_F(RecoveryTest, StartsThatGiveNoReadableNameAreKeptAside) {
  const Recording& r = Recording::get();
  const struct {
    const char* name;
    CalendarTime start;
  } cases[] = {
      {"month 13", {2006, 13, 2, 3, 4, 5, 0}},
      {"day 0", {2006, 1, 0, 3, 4, 5, 0}},
      {"30 February", {2007, 2, 30, 3, 4, 5, 0}},
      {"hour 24", {2006, 1, 2, 24, 4, 5, 0}},
      {"a negative minute", {2006, 1, 2, 3, -4, 5, 0}},
      {"a five-digit year", {20060, 1, 2, 3, 4, 5, 0}},
      {"before the inspector's calendar", {1600, 1, 2, 3, 4, 5, 0}},
      {"after the file's last write", {2999, 1, 2, 3, 4, 5, 0}},
  };
  for (const auto& c : cases) {
    testing::ScratchDirectory scratch;
    write_bytes(kTempRecordingName, r.killed);
    describe(c.start);
    const RecoveryReport report = recover_interrupted_recording();
    EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kKept) << c.name;
    EXPECT_EQ(report.name.rfind("Talvex_unrecovered_", 0), 0u) << c.name << ": " << report.name;
    EXPECT_TRUE(read_bytes(report.name) == r.killed) << c.name;
    EXPECT_EQ(files(), std::vector<std::string>{report.name}) << c.name;
  }
}

// The end of a recovered video is the file's last write in the local time of that moment,
// for real across both changes of the clock of a zone with summer time. A crash in the
// hour that the clock goes back can end "before" its start: that file is kept aside.
TEST_F(RecoveryTest, TheEndFollowsTheClockChangesOfTheLastWrite) {
  struct Zone {
    Zone() {
      const char* tz = std::getenv("TZ");
      if (tz) before = tz;
      ::setenv("TZ", "Europe/Berlin", 1);
      ::tzset();
    }
    ~Zone() {
      if (before.empty()) {
        ::unsetenv("TZ");
      } else {
        ::setenv("TZ", before.c_str(), 1);
      }
      ::tzset();
    }
    std::string before;
  } zone;
  const struct {
    const char* name;
    CalendarTime start;  // local
    int written[5];      // UTC: month, day, hour, minute, second of 2026
    const char* video;   // nothing when kept aside
  } cases[] = {
      {"before the clock goes forward",
       {2026, 3, 29, 1, 50, 0, 0},
       {3, 29, 0, 55, 0},
       "Talvex_Camera_2026-03-29_01-50-00_2026-03-29_01-55-00.avi"},
      {"across the clock going forward",
       {2026, 3, 29, 1, 50, 0, 0},
       {3, 29, 1, 5, 0},
       "Talvex_Camera_2026-03-29_01-50-00_2026-03-29_03-05-00.avi"},
      {"in summer time",
       {2026, 7, 1, 12, 0, 0, 0},
       {7, 1, 10, 30, 0},
       "Talvex_Camera_2026-07-01_12-00-00_2026-07-01_12-30-00.avi"},
      {"before the clock goes back",
       {2026, 10, 25, 2, 50, 0, 0},
       {10, 25, 0, 55, 0},
       "Talvex_Camera_2026-10-25_02-50-00_2026-10-25_02-55-00.avi"},
      {"across the clock going back",
       {2026, 10, 25, 2, 10, 0, 0},
       {10, 25, 1, 20, 0},
       "Talvex_Camera_2026-10-25_02-10-00_2026-10-25_02-20-00.avi"},
      {"ending in the repeated hour before its start",
       {2026, 10, 25, 2, 50, 0, 0},
       {10, 25, 1, 10, 0},
       nullptr},
  };
  for (const auto& c : cases) {
    testing::ScratchDirectory scratch;
    write_bytes(kTempRecordingName, Recording::get().killed);
    describe(c.start);
    std::tm utc{};
    utc.tm_year = 2026 - 1900;
    utc.tm_mon = c.written[0] - 1;
    utc.tm_mday = c.written[1];
    utc.tm_hour = c.written[2];
    utc.tm_min = c.written[3];
    utc.tm_sec = c.written[4];
    const timeval times[2] = {{::timegm(&utc), 0}, {::timegm(&utc), 0}};
    ASSERT_EQ(::utimes(kTempRecordingName, times), 0);
    const RecoveryReport report = recover_interrupted_recording();
    if (c.video) {
      EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kRecovered) << c.name;
      EXPECT_EQ(report.name, c.video) << c.name;
    } else {
      EXPECT_EQ(report.outcome, RecoveryReport::Outcome::kKept) << c.name;
      EXPECT_EQ(report.name, "Talvex_unrecovered_2026-10-25_02-10-00.avi") << c.name;
    }
  }
}

TEST_F(RecoveryTest, RecoveryNeverReplacesAVideo) {
  const Recording& r = Recording::get();
  write_bytes(kTempRecordingName, r.killed);
  describe({2006, 1, 2, 3, 4, 5, 0});
  // The name the recovery would take exists already.
  std::uint64_t size;
  CalendarTime written;
  ASSERT_TRUE(system_calls().file_status(kTempRecordingName, size, written));
  const std::string taken = format_video_file_name({2006, 1, 2, 3, 4, 5, 0}, written);
  write_bytes(taken, "someone's video");
  const RecoveryReport report = recover_interrupted_recording();
  ASSERT_EQ(report.outcome, RecoveryReport::Outcome::kRecovered);
  EXPECT_EQ(report.name, taken.substr(0, taken.size() - 4) + "_2.avi");
  EXPECT_EQ(read_bytes(taken), "someone's video");
  EXPECT_EQ(probe(report.name).frames, kFrames);
}

TEST(RecordingDescriptor, RoundTripsAndRefusesDamagedBytes) {
  RecordingDescriptor d;
  d.format = Recording::get().format;
  d.start = {2026, 12, 31, 23, 59, 58, 120};
  const std::vector<std::uint8_t> bytes = descriptor_bytes(d);
  const auto back = parse_descriptor(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->format.format, d.format.format);
  EXPECT_EQ(back->format.frame_period, d.format.frame_period);
  EXPECT_EQ(back->format.sub_type, d.format.sub_type);
  EXPECT_EQ(back->start.second, 58);
  EXPECT_EQ(back->start.milliseconds, 120);
  const auto picture = video_picture(back->format);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 320);
  EXPECT_EQ(picture->height, 240);
  // Every cut and every single flipped bit is refused.
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(parse_descriptor(std::span(bytes).first(n))) << n;
    std::vector<std::uint8_t> flipped = bytes;
    flipped[n] ^= 0x10;
    EXPECT_FALSE(parse_descriptor(flipped)) << n;
  }
}

// A graph whose recorder is given the real MJPEG frames of the recording.
class FrameGraph : public RecordingGraph {
 public:
  FrameGraph() { stream.set_format(Recording::get().format); }
  bool has_device() const override { return true; }
  RecordingStream* recording_stream() override { return &stream; }
  void frames(int count, const CalendarTime& local) {
    const std::string& k = Recording::get().killed;
    std::size_t at = kKilledZeros;
    for (int i = 0; i < count; ++i) {
      const std::uint32_t n = le32(k, at + 4);
      StreamSample s;
      s.bytes.assign(k.begin() + at + 8, k.begin() + at + 8 + n);
      s.time = time += 10000000 / 15;
      s.local = local;
      stream.deliver(std::move(s));
      at += 8 + n + (n & 1);
    }
  }
  RecordingStream stream;
  std::int64_t time = 0;
};

class RecorderSaveTest : public RecoveryTest {
 protected:
  RecorderSaveTest() {
    clock_ = {2006, 1, 2, 3, 4, 5, 0};
    sys_->local_time = [] { return clock_; };
    log_written_.clear();
    log_works_ = true;
    recorder_.set_log([](int n) {
      if (log_works_) log_written_.push_back(n);
      return log_works_;
    });
  }
  void record(int frames, int start_second, int end_second) {
    clock_.second = start_second;
    recorder_.start_recording(graph_);
    graph_.frames(frames, clock_);
    clock_.second = end_second;
    recorder_.stop_recording(graph_);
  }
  static inline CalendarTime clock_;
  static inline std::vector<int> log_written_;
  static inline bool log_works_ = true;
  testing::ScopedSystemCalls sys_;
  FrameGraph graph_;
  Recorder recorder_;
};

TEST_F(RecorderSaveTest, RecordingsAreSavedAndTheSameSecondsNeverReplaceAVideo) {
  const std::string first = "Talvex_Camera_2006-01-02_03-04-05_2006-01-02_03-04-35.avi";
  record(kFrames, 5, 35);
  EXPECT_EQ(recorder_.last_video_name(), first);
  EXPECT_EQ(probe(first).frames, kFrames);
  // Saved: nothing is left for a recovery to find.
  EXPECT_EQ(files(), std::vector<std::string>{first});
  const std::string first_bytes = read_bytes(first);

  // The same seconds again: the next name of the series.
  record(10, 5, 35);
  const std::string second = "Talvex_Camera_2006-01-02_03-04-05_2006-01-02_03-04-35_2.avi";
  EXPECT_EQ(recorder_.last_video_name(), second);
  EXPECT_EQ(read_bytes(first), first_bytes);
  EXPECT_EQ(probe(second).frames, 10);
  EXPECT_EQ(probe(second).errors, "");
  EXPECT_TRUE(log_written_.empty());
}

// A disk that fills during a recording: no dated file, 46 logged once, when the log takes
// it; the temporary file stays and is saved at the next start once there is room.
TEST_F(RecorderSaveTest, AFailedSaveLeavesNoVideoAndKeepsTheRecording) {
  {
    testing::ScopedSystemCalls full_disk;
    static std::size_t room;
    room = 40000;
    system_calls().write_file = [](const void* data, std::size_t size, std::FILE* f) {
      const std::size_t n = std::min(size, room);
      room -= n;
      return std::fwrite(data, 1, n, f);
    };
    log_works_ = false;  // the log lies on the same full disk
    record(kFrames, 5, 35);
    EXPECT_EQ(files(), std::vector<std::string>{kTempRecordingName});
    EXPECT_EQ(recorder_.unlogged_failures(), 1);
    log_works_ = true;
  }
  const std::size_t kept = scan_file(kTempRecordingName).frames.size();
  EXPECT_GT(kept, 0u);
  // Room again: the entry reaches the log once, and the kept recording is saved before the
  // next one writes the temporary file anew.
  clock_.second = 40;
  recorder_.start_recording(graph_);
  EXPECT_EQ(log_written_, std::vector<int>{46});
  ASSERT_EQ(files().size(), 2u);  // the kept one saved, the new one begun
  EXPECT_EQ(probe(files()[0]).frames, static_cast<int>(kept));
  graph_.frames(5, clock_);
  clock_.second = 50;
  recorder_.stop_recording(graph_);
  EXPECT_EQ(recorder_.last_video_name(),
            "Talvex_Camera_2006-01-02_03-04-40_2006-01-02_03-04-50.avi");
  EXPECT_EQ(probe(recorder_.last_video_name()).frames, 5);
  EXPECT_EQ(log_written_, std::vector<int>{46});
}

// The configuration save, its process killed (SIGKILL) at each of its steps: "Talvex.cfg"
// is always the old file or the new one, whole, and reads back.
enum SaveStep { kAtOpen, kMidWrite, kAtFlush, kAtClose, kAtRename, kAfterRename };
SaveStep kill_at;

TEST(ConfigurationSave, KilledAtEveryStepLeavesTheOldFileOrTheNewOne) {
  struct Case {
    const char* name;
    SaveStep step;
    bool new_file;
  } cases[] = {
      {"opening", kAtOpen, false},    {"writing", kMidWrite, false},
      {"flushing", kAtFlush, false},  {"closing", kAtClose, false},
      {"renaming", kAtRename, false}, {"after the rename", kAfterRename, true},
  };
  Settings old_settings, new_settings;
  new_settings.video_device = "Talvex Test Camera";
  new_settings.motion_duration = 12;
  for (const Case& c : cases) {
    testing::ScratchDirectory dir;
    ASSERT_EQ(write_settings(old_settings), msg::kOk);
    const std::string old_file = read_bytes(kConfigFileName);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      kill_at = c.step;
      SystemCalls& sys = system_calls();
      static SystemCalls real;
      real = sys;
      sys.open_file = [](const char* n, const char* m) {
        if (kill_at == kAtOpen) ::raise(SIGKILL);
        return real.open_file(n, m);
      };
      sys.write_file = [](const void* d, std::size_t size, std::FILE* f) {
        if (kill_at == kMidWrite) {
          real.write_file(d, size / 2, f);
          std::fflush(f);
          ::raise(SIGKILL);
        }
        return real.write_file(d, size, f);
      };
      sys.flush_file = [](std::FILE* f) {
        if (kill_at == kAtFlush) ::raise(SIGKILL);
        return real.flush_file(f);
      };
      sys.close_file = [](std::FILE* f) {
        if (kill_at == kAtClose) ::raise(SIGKILL);
        return real.close_file(f);
      };
      sys.replace_file = [](const char* from, const char* to) {
        if (kill_at == kAtRename) ::raise(SIGKILL);
        const bool done = real.replace_file(from, to);
        if (kill_at == kAfterRename) ::raise(SIGKILL);
        return done;
      };
      write_settings(new_settings);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << c.name;
    EXPECT_EQ(read_bytes(kConfigFileName), c.new_file ? settings_file_text(new_settings) : old_file)
        << c.name;
    Settings back;
    EXPECT_EQ(read_settings(back), msg::kOk) << c.name;
    EXPECT_EQ(back.motion_duration, c.new_file ? 12 : 30) << c.name;
  }
}

}  // namespace
}  // namespace talvex
