// The recorder's own files: the AVI writer over a table of streams (checked by ffprobe and
// ffmpeg), the pre-event ring, recordings split at the hour and at the size bound with a
// streaming thread and an owner thread as in the program, saves killed (SIGKILL) at every
// step, and a disk that fills (a real tmpfs), with and without the clean-up that makes room.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/avi_recovery.h"
#include "capture/avi_writer.h"
#include "capture/pre_event_ring.h"
#include "capture/recording_stream.h"
#include "capture/video_cleanup_thread.h"
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

constexpr std::int64_t kSecond = 10000000;
constexpr std::int64_t kPeriod15 = kSecond / 15;

void put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

// A VIDEOINFOHEADER as the graph connects it.
RecordingFormat video_format(int width, int height, int bits, const char* fourcc,
                             std::int64_t period) {
  RecordingFormat f;
  f.major_type = kMediaTypeVideo;
  f.format_type = kFormatVideoInfo;
  f.frame_period = period;
  f.format.assign(48 + 40, 0);
  for (int i = 0; i < 8; ++i) f.format[40 + i] = static_cast<std::uint8_t>(period >> (8 * i));
  put32(f.format, 48, 40);
  put32(f.format, 52, static_cast<std::uint32_t>(width));
  put32(f.format, 56, static_cast<std::uint32_t>(height));
  f.format[60] = 1;
  f.format[62] = static_cast<std::uint8_t>(bits);
  if (fourcc) std::memcpy(f.format.data() + 64, fourcc, 4);
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  put32(f.format, 68, static_cast<std::uint32_t>(stride * height));
  return f;
}

// Bottom-up RGB frames with padded rows: a picture of its index that ffmpeg decodes back.
std::vector<std::uint8_t> rgb_frame(int width, int height, int bits, int index) {
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  std::vector<std::uint8_t> f(stride * height, 0);
  const int bytes = bits / 8;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = f.data() + y * stride + x * bytes;
      p[0] = static_cast<std::uint8_t>(x * 7 + index);
      p[1] = static_cast<std::uint8_t>(y * 5);
      p[2] = static_cast<std::uint8_t>(index * 40);
    }
  }
  return f;
}

// The same picture top row first, without padding, as ffmpeg's bgr24 output gives it.
std::string top_down_bgr(const std::vector<std::uint8_t>& frame, int width, int height, int bits) {
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  std::string out;
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = frame.data() + y * stride + x * (bits / 8);
      out.append(reinterpret_cast<const char*>(p), 3);
    }
  }
  return out;
}

// Distinct MJPEG frames made by ffmpeg, made once.
const std::vector<std::vector<std::uint8_t>>& mjpeg_frames() {
  static const std::vector<std::vector<std::uint8_t>> frames = [] {
    std::vector<std::vector<std::uint8_t>> out;
    const fs::path dir = fs::temp_directory_path() / ("talvex_mjpeg_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "made.avi").string();
    run("ffmpeg -y -v error -f lavfi -i testsrc=size=160x120:rate=15 -frames:v 120 -c:v mjpeg "
        "-q:v 5 '" +
        file + "'");
    const std::string bytes = read_bytes(file);
    fs::remove_all(dir);
    MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    for (const FrameChunk& c : scan_avi(source).frames) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + c.offset + 8;
      out.emplace_back(p, p + c.size);
    }
    return out;
  }();
  return frames;
}

const RecordingFormat& mjpeg_format() {
  static const RecordingFormat f = video_format(160, 120, 24, "MJPG", kPeriod15);
  return f;
}

// The frame payloads of an AVI file, in order.
std::vector<std::vector<std::uint8_t>> frames_of(const std::string& file) {
  const std::string bytes = read_bytes(file);
  MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  std::vector<std::vector<std::uint8_t>> out;
  for (const FrameChunk& c : scan_avi(source).frames) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + c.offset + 8;
    out.emplace_back(p, p + c.size);
  }
  return out;
}

// The key-frame flags of a file's idx1 entries, which the inspector's jumps rely on (ffmpeg
// takes every frame of an intra-only codec for a key frame, whatever the index says).
std::vector<bool> index_key_flags(const std::string& file) {
  const std::string bytes = read_bytes(file);
  std::vector<bool> flags;
  const std::size_t at = bytes.rfind("idx1");
  if (at == std::string::npos || bytes.size() < at + 8) return flags;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + at;
  const std::uint32_t size = p[4] | (p[5] << 8) | (p[6] << 16) | (std::uint32_t{p[7]} << 24);
  if (bytes.size() < at + 8 + size) return flags;
  for (std::uint32_t e = 0; e + 16 <= size; e += 16) flags.push_back((p[8 + e + 4] & 0x10) != 0);
  return flags;
}

std::vector<std::string> files() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(".")) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> videos() {
  std::vector<std::string> names;
  for (const std::string& n : files()) {
    if (n.rfind("Talvex_Camera_", 0) == 0) names.push_back(n);
  }
  return names;
}

std::int64_t fixed_clock() { return 0; }

TEST(AviWriter, WritesStreamsThatFfmpegPlaysFrameForFrame) {
  struct Case {
    const char* name;
    int width, height, bits;
    const char* fourcc;
    int frames;
    std::int64_t nominal, actual;  // frame periods: the type's, and the frames' times
    int key_every;                 // key frames flagged in the index
  } cases[] = {
      {"MJPEG 160x120", 160, 120, 24, "MJPG", 45, kPeriod15, kPeriod15, 1},
      {"RGB24 320x240", 320, 240, 24, nullptr, 20, kPeriod15, kPeriod15, 1},
      {"RGB24 161x121, padded rows", 161, 121, 24, nullptr, 17, kPeriod15, kPeriod15, 1},
      {"RGB32 320x240", 320, 240, 32, nullptr, 12, kSecond / 30, kSecond / 30, 1},
      {"RGB32 33x17", 33, 17, 32, nullptr, 9, kPeriod15, kPeriod15, 3},
      {"MJPEG, a camera slower than its rate", 160, 120, 24, "MJPG", 30, kPeriod15, kSecond / 10,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScratchDirectory dir;
    const auto stream = avi_stream(video_format(c.width, c.height, c.bits, c.fourcc, c.nominal));
    ASSERT_TRUE(stream);
    AviWriter writer(fixed_clock);
    ASSERT_TRUE(writer.open("out.avi", *stream, {2026, 12, 10, 10, 21, 23, 0}));
    std::vector<std::vector<std::uint8_t>> written;
    std::vector<bool> key_flags;
    for (int i = 0; i < c.frames; ++i) {
      written.push_back(c.fourcc ? mjpeg_frames()[i] : rgb_frame(c.width, c.height, c.bits, i));
      key_flags.push_back(i % c.key_every == 0);
      ASSERT_TRUE(writer.append(written.back().data(), written.back().size(), key_flags.back(),
                                1000 + i * c.actual));
    }
    ASSERT_TRUE(writer.finish());

    const Probe p = probe("out.avi");
    EXPECT_EQ(p.frames, c.frames);
    EXPECT_NEAR(p.duration, c.frames * (c.actual / 1e7), 0.04);
    EXPECT_EQ(index_key_flags("out.avi"), key_flags);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(frames_of("out.avi"), written);
    const std::string bytes = read_bytes("out.avi");
    MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    const AviScan scan = scan_avi(source);
    EXPECT_TRUE(scan.intact);
    ASSERT_TRUE(scan.created);
    EXPECT_EQ(scan.created->second, 23);
    EXPECT_EQ(scan.frames.front().offset, kAviHeaderArea);
    if (!c.fourcc) {
      // The picture ffmpeg decodes is the frame we gave, the right way up.
      run("ffmpeg -v error -i out.avi -frames:v 1 -f rawvideo -pix_fmt bgr24 first.bgr");
      EXPECT_TRUE(read_bytes("first.bgr") == top_down_bgr(written[0], c.width, c.height, c.bits));
    }
  }
}

TEST(AviWriter, RefusesWhatItCannotStore) {
  RecordingFormat no_picture = video_format(0, 240, 24, nullptr, kPeriod15);
  RecordingFormat short_block = video_format(320, 240, 24, nullptr, kPeriod15);
  short_block.format.resize(48 + 20);
  RecordingFormat other_type = video_format(320, 240, 24, nullptr, kPeriod15);
  other_type.format_type = MediaGuid{};
  RecordingFormat huge_palette = video_format(320, 240, 8, nullptr, kPeriod15);
  huge_palette.format.resize(48 + kAviLargestStreamFormat + 4);
  for (const RecordingFormat* f : {&no_picture, &short_block, &other_type, &huge_palette}) {
    EXPECT_FALSE(avi_stream(*f));
  }
  // A type without a frame period gets 1/15 s.
  RecordingFormat no_period = video_format(320, 240, 24, nullptr, 0);
  ASSERT_TRUE(avi_stream(no_period));
  EXPECT_EQ(avi_stream(no_period)->frame_period, kPeriod15);
  EXPECT_FALSE(avi_stream(no_period)->compressed);
  EXPECT_TRUE(avi_stream(mjpeg_format())->compressed);
}

// The disk sees every frame at once, and a sync at least once a second.
TEST(AviWriter, HandsEveryFrameToTheSystemAndSyncsEachSecond) {
  testing::ScratchDirectory dir;
  testing::ScopedSystemCalls sys;
  static int syncs;
  static std::int64_t now;
  syncs = 0;
  now = 0;
  static SystemCalls real;
  real = system_calls();
  system_calls().flush_file = [](std::FILE* f) {
    ++syncs;
    return real.flush_file(f);
  };
  AviWriter writer([] { return now; });
  ASSERT_TRUE(writer.open(kTempRecordingName, *avi_stream(mjpeg_format()), {}));
  EXPECT_EQ(syncs, 1);  // the headers
  for (int i = 0; i < 45; ++i) {
    now = i * 1000 / 15;  // 15 frames a second for 3 s
    const auto& f = mjpeg_frames()[i];
    ASSERT_TRUE(writer.append(f.data(), f.size(), true, i * kPeriod15));
    // Already in the file for any other reader: a killed process loses nothing.
    EXPECT_EQ(frames_of(kTempRecordingName).size(), static_cast<std::size_t>(i + 1));
  }
  EXPECT_EQ(syncs, 1 + 2);  // at 1 s and 2 s
  ASSERT_TRUE(writer.finish());
  EXPECT_EQ(syncs, 4);
}

TEST(PreEventRing, KeepsTheLastSecondsInOrderWithinItsBound) {
  struct Case {
    const char* name;
    int seconds;
    std::size_t bound;
    int pushed;          // 15 a second, 1000 bytes each
    int first_key;       // samples before it are not key frames
    std::size_t kept;    // samples taken
    std::int64_t first;  // index of the first taken
    int restart = -1;    // the stream's clock begins anew at this sample
  } cases[] = {
      {"3 s of a longer run", 3, 1 << 20, 150, 0, 46, 104},
      {"pre-event of 0 keeps nothing", 0, 1 << 20, 150, 0, 0, 0},
      {"longer than the run so far", 10, 1 << 20, 40, 0, 40, 0},
      {"the byte bound drops the oldest", 30, 10 * 1000, 150, 0, 10, 140},
      {"taken from the first key frame", 10, 1 << 20, 40, 5, 35, 5},
      {"the stream's clock began anew", 10, 1 << 20, 40, 0, 10, 30, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PreEventRing ring(c.bound);
    ring.set_seconds(c.seconds);
    for (int i = 0; i < c.pushed; ++i) {
      StreamSample s;
      s.bytes.assign(1000, static_cast<std::uint8_t>(i));
      s.time = (c.restart >= 0 && i >= c.restart ? i - c.restart : i + 1000) * kPeriod15;
      s.key = i >= c.first_key;
      ring.push(std::move(s));
      EXPECT_LE(ring.bytes(), c.bound);
    }
    const auto taken = ring.take();
    ASSERT_EQ(taken.size(), c.kept);
    for (std::size_t i = 0; i < taken.size(); ++i) {
      EXPECT_EQ(taken[i].bytes[0], static_cast<std::uint8_t>(c.first + i));
    }
    EXPECT_EQ(ring.size(), 0u);
    EXPECT_EQ(ring.bytes(), 0u);
  }
}

// A stream of numbered MJPEG frames at 15 a second with their local times.
StreamSample sample(int index, const CalendarTime& first_local) {
  StreamSample s;
  s.bytes = mjpeg_frames()[index % mjpeg_frames().size()];
  s.time = index * kPeriod15;
  s.local = first_local;
  const int seconds = first_local.second + index / 15;
  s.local.second = seconds % 60;
  s.local.minute += seconds / 60;
  if (s.local.minute >= 60) {
    s.local.minute -= 60;
    s.local.hour += 1;
  }
  s.local.milliseconds = (index % 15) * 66;
  return s;
}

class RecordingStreamTest : public ::testing::Test {
 protected:
  RecordingStreamTest() {
    clock_ = {2026, 12, 10, 10, 59, 0, 0};
    sys_->local_time = [] { return clock_; };
  }
  static inline CalendarTime clock_;
  testing::ScratchDirectory dir_;
  testing::ScopedSystemCalls sys_;
};

TEST_F(RecordingStreamTest, AMotionRecordingBeginsWithTheSecondsBeforeItsStart) {
  RecordingStream stream({}, fixed_clock);
  ASSERT_TRUE(stream.set_format(mjpeg_format()));
  stream.set_pre_event(3);
  const CalendarTime t0{2026, 12, 10, 10, 20, 0, 0};
  for (int i = 0; i < 75; ++i) stream.deliver(sample(i, t0));  // 5 s
  ASSERT_TRUE(stream.start(RecordingStream::Kind::kMotion));
  for (int i = 75; i < 105; ++i) stream.deliver(sample(i, t0));  // 2 s more
  clock_ = sample(104, t0).local;
  std::string name;
  ASSERT_TRUE(stream.stop(name));
  // The frames of the 3 s before the start, then the recording's own: frame 29 on.
  const auto frames = frames_of(name);
  ASSERT_EQ(frames.size(), 105u - 29u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i], sample(29 + static_cast<int>(i), t0).bytes) << i;
  }
  // Named from its first frame's time.
  EXPECT_EQ(name, format_video_file_name(sample(29, t0).local, clock_));
  EXPECT_EQ(probe(name).frames, 76);
  EXPECT_EQ(files(), std::vector<std::string>{name});

  // A continuous recording begins at its start; the ring starts empty after a recording.
  for (int i = 105; i < 120; ++i) stream.deliver(sample(i, t0));
  EXPECT_EQ(stream.ring_samples(), 15u);
  ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
  stream.deliver(sample(120, t0));
  clock_.second = 59;
  ASSERT_TRUE(stream.stop(name));
  EXPECT_EQ(frames_of(name).size(), 1u);
  // A recording without a frame leaves nothing.
  ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
  ASSERT_TRUE(stream.stop(name));
  EXPECT_EQ(name, "");
  EXPECT_EQ(videos().size(), 2u);
  EXPECT_EQ(stream.lost_frames(), 0u);
}

// A temporary file with headers and no frame (a start cut short) holds nothing: the next
// start writes its own.
TEST_F(RecordingStreamTest, ATemporaryFileWithoutAFrameIsReplaced) {
  {
    AviWriter cut(fixed_clock);
    ASSERT_TRUE(cut.open(kTempRecordingName, *avi_stream(mjpeg_format()), clock_));
  }
  RecordingStream stream({}, fixed_clock);
  ASSERT_TRUE(stream.set_format(mjpeg_format()));
  ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
  stream.deliver(sample(0, clock_));
  std::string name;
  ASSERT_TRUE(stream.stop(name));
  EXPECT_EQ(files(), std::vector<std::string>{name});
  EXPECT_EQ(frames_of(name).size(), 1u);
}

// Samples are copied for the recorder only while something keeps them.
TEST_F(RecordingStreamTest, TakesSamplesOnlyWhileARecordingOrTheRingKeepsThem) {
  RecordingStream stream({}, fixed_clock);
  ASSERT_TRUE(stream.set_format(mjpeg_format()));
  EXPECT_FALSE(stream.takes_samples());  // pre-event 0, no recording
  ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
  EXPECT_TRUE(stream.takes_samples());
  std::string name;
  ASSERT_TRUE(stream.stop(name));
  EXPECT_FALSE(stream.takes_samples());
  stream.set_pre_event(3);
  EXPECT_TRUE(stream.takes_samples());
  stream.set_pre_event(0);
  EXPECT_FALSE(stream.takes_samples());
}

// The program's two threads: a streaming thread delivers, the owner thread splits when
// asked. Every frame is in exactly one video, in order.
struct SplitRun {
  std::vector<std::string> names;
  bool all_saved = true;
};
SplitRun record_with_splits(RecordingStream& stream, RecordingStream::Kind kind, int from, int to,
                            const CalendarTime& t0) {
  std::mutex m;
  std::condition_variable cv;
  int requests = 0;
  bool done = false;
  stream.set_split_request([&] {
    std::lock_guard lock(m);
    ++requests;
    cv.notify_one();
  });
  SplitRun result;
  EXPECT_TRUE(stream.start(kind));
  std::thread streaming([&] {
    for (int i = from; i < to; ++i) {
      stream.deliver(sample(i, t0));
      if (i % 7 == 0) std::this_thread::yield();
    }
    std::lock_guard lock(m);
    done = true;
    cv.notify_one();
  });
  std::unique_lock lock(m);
  for (;;) {
    cv.wait(lock, [&] { return requests > 0 || done; });
    if (requests > 0) {
      --requests;
      lock.unlock();
      std::string name;
      result.all_saved = stream.split(name) && result.all_saved;
      if (!name.empty()) result.names.push_back(name);
      lock.lock();
      continue;
    }
    break;
  }
  lock.unlock();
  streaming.join();
  std::string name;
  result.all_saved = stream.stop(name) && result.all_saved;
  if (!name.empty()) result.names.push_back(name);
  stream.set_split_request(nullptr);
  return result;
}

TEST_F(RecordingStreamTest, AContinuousRecordingIsSplitAtTheHourWithNoFrameLostOrDoubled) {
  RecordingStream stream({}, fixed_clock);
  ASSERT_TRUE(stream.set_format(mjpeg_format()));
  const CalendarTime t0{2026, 12, 10, 10, 59, 57, 0};
  clock_ = {2026, 12, 10, 11, 0, 3, 0};  // the stop
  const SplitRun run = record_with_splits(stream, RecordingStream::Kind::kContinuous, 0, 90, t0);
  EXPECT_TRUE(run.all_saved);
  ASSERT_EQ(run.names.size(), 2u);
  // The second begins where the first ends, at the whole hour.
  EXPECT_EQ(run.names[0], "Talvex_Camera_2026-12-10_10-59-57_2026-12-10_11-00-00.avi");
  EXPECT_EQ(run.names[1], "Talvex_Camera_2026-12-10_11-00-00_2026-12-10_11-00-03.avi");
  std::vector<std::vector<std::uint8_t>> all = frames_of(run.names[0]);
  EXPECT_EQ(all.size(), 45u);  // 10:59:57 to 10:59:59
  const auto second = frames_of(run.names[1]);
  all.insert(all.end(), second.begin(), second.end());
  ASSERT_EQ(all.size(), 90u);
  for (int i = 0; i < 90; ++i) EXPECT_EQ(all[i], sample(i, t0).bytes) << i;
  for (const std::string& n : run.names) {
    const Probe p = probe(n);
    EXPECT_EQ(p.errors, "") << n;
    EXPECT_NEAR(p.duration, p.frames / 15.0, 0.01) << n;
  }
  EXPECT_EQ(files(), run.names);

  // A motion recording is not split at the hour.
  const SplitRun motion = record_with_splits(stream, RecordingStream::Kind::kMotion, 0, 90, t0);
  EXPECT_EQ(motion.names.size(), 1u);
  EXPECT_EQ(frames_of(motion.names[0]).size(), 90u);
}

TEST_F(RecordingStreamTest, NoFileEverPassesTheSizeBound) {
  const std::uint64_t bound = 200 * 1000;
  RecordingStream stream({bound, 1 << 20}, fixed_clock);
  ASSERT_TRUE(stream.set_format(mjpeg_format()));
  const CalendarTime t0{2026, 12, 10, 10, 20, 0, 0};
  clock_ = {2026, 12, 10, 10, 20, 8, 0};
  const SplitRun run = record_with_splits(stream, RecordingStream::Kind::kContinuous, 0, 120, t0);
  EXPECT_TRUE(run.all_saved);
  ASSERT_GE(run.names.size(), 3u);
  std::vector<std::vector<std::uint8_t>> all;
  for (const std::string& n : run.names) {
    EXPECT_LE(fs::file_size(n), bound) << n;
    EXPECT_EQ(probe(n).errors, "") << n;
    const auto part = frames_of(n);
    all.insert(all.end(), part.begin(), part.end());
  }
  ASSERT_EQ(all.size(), 120u);
  for (int i = 0; i < 120; ++i) EXPECT_EQ(all[i], sample(i, t0).bytes) << i;
  EXPECT_EQ(stream.lost_frames(), 0u);
}

// A save killed at each of its steps, and a recording killed between two frames: the next
// start's recovery finds a video with every frame written, or the video is there already.
enum KillAt { kMidRecording, kAtIndex, kAfterIndex, kAtSync, kAtClose, kAtRename, kAfterRename };
KillAt kill_at;
bool finishing;
int frames_written;

TEST(RecorderKilled, AtEveryStepOfASaveLeavesAVideoOrARecoverableFile) {
  struct Case {
    const char* name;
    KillAt step;
    int frames;  // in the video afterwards
  } cases[] = {
      {"between two frames", kMidRecording, 20}, {"before the index", kAtIndex, 30},
      {"after the index", kAfterIndex, 30},      {"before the sync", kAtSync, 30},
      {"before the close", kAtClose, 30},        {"before the rename", kAtRename, 30},
      {"after the rename", kAfterRename, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScratchDirectory dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      kill_at = c.step;
      finishing = false;
      frames_written = 0;
      SystemCalls& sys = system_calls();
      static SystemCalls real;
      real = sys;
      sys.local_time = [] { return CalendarTime{2026, 12, 10, 10, 20, 3, 0}; };
      sys.write_file = [](const void* d, std::size_t size, std::FILE* f) {
        if (size >= 4 && std::memcmp(d, "00dc", 4) == 0 && ++frames_written > 20 &&
            kill_at == kMidRecording) {
          ::raise(SIGKILL);
        }
        if (size >= 4 && std::memcmp(d, "idx1", 4) == 0) {
          finishing = true;
          if (kill_at == kAtIndex) ::raise(SIGKILL);
        }
        return real.write_file(d, size, f);
      };
      sys.seek_file = [](std::FILE* f, std::uint64_t offset) {
        if (finishing && kill_at == kAfterIndex) ::raise(SIGKILL);
        return real.seek_file(f, offset);
      };
      sys.flush_file = [](std::FILE* f) {
        if (finishing && kill_at == kAtSync) ::raise(SIGKILL);
        return real.flush_file(f);
      };
      sys.close_file = [](std::FILE* f) {
        if (finishing && kill_at == kAtClose) ::raise(SIGKILL);
        return real.close_file(f);
      };
      sys.rename_no_replace = [](const char* from, const char* to) {
        if (kill_at == kAtRename) ::raise(SIGKILL);
        const bool done = real.rename_no_replace(from, to);
        if (kill_at == kAfterRename) ::raise(SIGKILL);
        return done;
      };
      RecordingStream stream({}, fixed_clock);
      stream.set_format(mjpeg_format());
      stream.start(RecordingStream::Kind::kContinuous);
      for (int i = 0; i < 30; ++i) stream.deliver(sample(i, {2026, 12, 10, 10, 20, 3, 0}));
      std::string name;
      stream.stop(name);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const RecoveryReport report = recover_interrupted_recording();
    EXPECT_EQ(report.outcome, c.step == kAfterRename ? RecoveryReport::Outcome::kNothing
                                                     : RecoveryReport::Outcome::kRecovered);
    ASSERT_EQ(videos().size(), 1u);
    EXPECT_EQ(files(), videos());
    const std::string video = videos()[0];
    // Named from the first frame's time, which the file's headers carry.
    EXPECT_EQ(video.substr(0, 34), "Talvex_Camera_2026-12-10_10-20-03_");
    const Probe p = probe(video);
    EXPECT_EQ(p.frames, c.frames);
    EXPECT_NEAR(p.duration, c.frames / 15.0, 0.07);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(frames_of(video).size(), static_cast<std::size_t>(c.frames));
  }
}

// The video folder on a small tmpfs that fills during a recording, without a clean-up: the
// frames the disk takes (smaller ones may still fit) are saved in order in a dated video
// that plays, the others are counted lost, and once there is room the next recording
// saves every frame.
TEST(RecorderFullDisk, SavesWhatWasWrittenAndRecordsAgainOnceThereIsRoom) {
  const fs::path folder = fs::temp_directory_path() / ("talvex_full_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=600k") != 0) {
    fs::remove(folder);
    GTEST_SKIP() << "no tmpfs can be mounted here (not root?)";
  }
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  {
    testing::ScopedSystemCalls sys;
    static CalendarTime clock;
    clock = {2026, 12, 10, 10, 20, 30, 0};
    system_calls().local_time = [] { return clock; };
    testing::write_bytes("filler", std::string(400 * 1024, 'x'));
    RecordingStream stream({}, fixed_clock);
    ASSERT_TRUE(stream.set_format(mjpeg_format()));
    ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
    const CalendarTime t0{2026, 12, 10, 10, 20, 10, 0};
    for (int i = 0; i < 120; ++i) stream.deliver(sample(i, t0));
    const std::size_t lost = stream.lost_frames();
    EXPECT_GT(lost, 0u);
    std::string name;
    ASSERT_TRUE(stream.stop(name));
    ASSERT_EQ(videos().size(), 1u);
    const auto saved = frames_of(name);
    EXPECT_GT(saved.size(), 10u);
    EXPECT_EQ(saved.size() + lost, 120u);
    // The frames saved are the stream's, in its order.
    std::size_t next = 0;
    for (const auto& frame : saved) {
      while (next < 120 && sample(int(next), t0).bytes != frame) ++next;
      ASSERT_LT(next, 120u);
      ++next;
    }
    EXPECT_EQ(probe(name).errors, "");
    EXPECT_FALSE(fs::exists(kTempRecordingName));

    fs::remove("filler");
    fs::remove(name);
    clock.second = 50;
    ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
    for (int i = 0; i < 15; ++i) stream.deliver(sample(i, {2026, 12, 10, 10, 20, 50, 0}));
    clock.second = 51;
    ASSERT_TRUE(stream.stop(name));
    EXPECT_EQ(frames_of(name).size(), 15u);
    EXPECT_EQ(probe(name).errors, "");
  }
  fs::current_path(previous);
  ::umount(folder.c_str());
  fs::remove(folder);
}

// The same disk filling with the clean-up set to keep 1 MB free: the clean-up makes room
// by deleting the oldest videos (never a read-only one or another file) when a write is
// refused mid-recording, and the recording goes on: every frame in the video, in order.
TEST(RecorderFullDisk, TheCleanupMakesRoomAndTheRecordingGoesOnWithoutAGap) {
  const fs::path folder = fs::temp_directory_path() / ("talvex_room_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=6m") != 0) {
    fs::remove(folder);
    GTEST_SKIP() << "no tmpfs can be mounted here (not root?)";
  }
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  {
    testing::ScopedSystemCalls sys;
    system_calls().local_time = [] { return CalendarTime{2026, 12, 10, 10, 30, 0, 0}; };
    const std::string mb(1 << 20, 'v');
    const char* old[] = {"Talvex_Camera_2026-12-01_10-00-00_2026-12-01_10-00-30.avi",
                         "Talvex_Camera_2026-12-02_10-00-00_2026-12-02_10-00-30.avi",
                         "Talvex_Camera_2026-12-03_10-00-00_2026-12-03_10-00-30.avi",
                         "Talvex_Camera_2026-12-03_10-00-00_2026-12-03_10-00-30_2.avi"};
    const char* keep = "Talvex_Camera_2026-11-01_10-00-00_2026-11-01_10-00-30.avi";
    for (const char* n : old) testing::write_bytes(n, mb);
    testing::write_bytes(keep, mb);
    fs::permissions(keep, fs::perms::owner_write, fs::perm_options::remove);
    testing::write_bytes("Talvex.log", std::string(700 * 1024, 'l'));
    // 6 MB less 5.7 MB: the 1 MB target is not met at the start either.
    std::vector<std::string> logged;
    VideoCleanupThread cleanup([dir = folder.string()] { return make_video_folder(dir); },
                               [] {
                                 CleanupRules rules;
                                 rules.keep_free_mb = 1;
                                 return rules;
                               },
                               [&logged](int n) { logged.push_back(std::to_string(n)); });
    cleanup.start();
    ASSERT_TRUE(testing::wait_until([&] { return cleanup.runs() >= 1; }));
    EXPECT_EQ(cleanup.deleted(), 1u);  // the oldest deletable: 1.3 MB free
    EXPECT_FALSE(fs::exists(old[0]));

    RecordingStream stream({}, fixed_clock);
    stream.set_room(&cleanup);
    ASSERT_TRUE(stream.set_format(mjpeg_format()));
    ASSERT_TRUE(stream.start(RecordingStream::Kind::kContinuous));
    const CalendarTime t0{2026, 12, 10, 10, 30, 0, 0};
    // About 3 MB of frames: the disk refuses some; the clean-up, asked at once, deletes.
    int delivered = 0;
    std::uint64_t bytes = 0;
    while (bytes < 3 * (1u << 20)) {
      StreamSample s = sample(delivered++, t0);
      bytes += s.bytes.size();
      stream.deliver(std::move(s));
      if (delivered % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(testing::wait_until([&] { return cleanup.deleted() >= 3; }));
    for (int i = 0; i < 30; ++i) stream.deliver(sample(delivered++, t0));
    std::string name;
    ASSERT_TRUE(stream.stop(name));
    EXPECT_EQ(stream.lost_frames(), 0u);
    const auto saved = frames_of(name);
    ASSERT_EQ(saved.size(), static_cast<std::size_t>(delivered));
    for (int i = 0; i < delivered; ++i) ASSERT_EQ(saved[i], sample(i, t0).bytes) << i;
    EXPECT_EQ(probe(name).errors, "");
    // Oldest first; the read-only video and the log are still there.
    EXPECT_FALSE(fs::exists(old[1]));
    EXPECT_FALSE(fs::exists(old[2]));
    EXPECT_TRUE(fs::exists(keep));
    EXPECT_TRUE(fs::exists("Talvex.log"));
    EXPECT_FALSE(logged.empty());
    for (const std::string& n : logged) EXPECT_EQ(n, "50");
    EXPECT_LE(logged.size(), cleanup.deleted());
    cleanup.stop();
    fs::permissions(keep, fs::perms::owner_write, fs::perm_options::add);
  }
  fs::current_path(previous);
  ::umount(folder.c_str());
  fs::remove(folder);
}

}  // namespace
}  // namespace talvex
