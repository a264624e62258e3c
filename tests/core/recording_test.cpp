#include "capture/recording.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/device_catalogue.h"
#include "capture/video_name.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

TEST(VideoName, FieldsArePaddedAndSeparated) {
  struct Case {
    CalendarTime start, end;
    const char* name;
  } cases[] = {
      {{2006, 12, 25, 7, 5, 3},
       {2006, 12, 25, 7, 5, 33},
       "Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi"},
      {{2006, 1, 2, 3, 4, 5},
       {2006, 1, 2, 3, 4, 35},
       "Talvex_Camera_2006-01-02_03-04-05_2006-01-02_03-04-35.avi"},
      {{2026, 12, 31, 23, 59, 50},
       {2027, 1, 1, 0, 0, 20},
       "Talvex_Camera_2026-12-31_23-59-50_2027-01-01_00-00-20.avi"},
      {{0, 0, 0, 0, 0, 0},
       {999, 10, 10, 10, 10, 10},
       "Talvex_Camera_0-00-00_00-00-00_999-10-10_10-10-10.avi"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_video_file_name(c.start, c.end), c.name);
}

// A graph with a recorder for an uncompressed 8 x 4 picture.
class StreamGraph : public RecordingGraph {
 public:
  StreamGraph() {
    RecordingFormat f;
    f.major_type = kMediaTypeVideo;
    f.format_type = kFormatVideoInfo;
    f.frame_period = 666666;
    f.format.assign(88, 0);
    f.format[48] = 40;  // biSize
    f.format[52] = 8;   // biWidth
    f.format[56] = 4;   // biHeight
    f.format[62] = 24;  // biBitCount
    stream.set_format(f);
  }
  bool device = true;
  bool has_device() const override { return device; }
  RecordingStream* recording_stream() override { return &stream; }
  void frame(const CalendarTime& local) {
    StreamSample s;
    s.bytes.assign(96, 7);
    s.time = time += 666666;
    s.local = local;
    stream.deliver(std::move(s));
  }
  RecordingStream stream;
  std::int64_t time = 0;
};

class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest() {
    clock_ = {2006, 12, 25, 7, 5, 3};
    sys_->local_time = [] { return clock_; };
  }
  static inline CalendarTime clock_;
  testing::ScopedSystemCalls sys_;
  testing::ScratchDirectory dir_;
};

TEST_F(RecorderTest, AStopSavesTheRecordingUnderTheNameOfItsFirstFrameAndTheStop) {
  StreamGraph graph;
  Recorder recorder;
  recorder.start_recording(graph);
  EXPECT_TRUE(graph.stream.recording());
  graph.frame({2006, 12, 25, 7, 5, 4});
  graph.frame({2006, 12, 25, 7, 5, 5});
  clock_.second = 33;
  recorder.stop_recording(graph);
  EXPECT_EQ(recorder.last_video_name(),
            "Talvex_Camera_2006-12-25_07-05-04_2006-12-25_07-05-33.avi");
  EXPECT_TRUE(std::filesystem::exists(recorder.last_video_name()));
  EXPECT_FALSE(std::filesystem::exists("Talvex_tmp.avi"));
  EXPECT_EQ(recorder.unlogged_failures(), 0);
  // A stop without a start saves nothing and reports nothing.
  recorder.stop_recording(graph);
  EXPECT_EQ(recorder.unlogged_failures(), 0);
  EXPECT_EQ(graph.stream.stops(), 1u);

  // A start that cannot write its file loses the recording: counted like a failed save.
  sys_->open_file = [](const char*, const char*) -> std::FILE* { return nullptr; };
  recorder.start_recording(graph);
  EXPECT_FALSE(graph.stream.recording());
  EXPECT_EQ(recorder.unlogged_failures(), 1);
}

TEST_F(RecorderTest, NoDeviceTouchesNeitherRecorderNorFiles) {
  StreamGraph graph;
  graph.device = false;
  testing::write_bytes("Talvex_tmp.avi", "RIFF");
  Recorder recorder;
  recorder.start_recording(graph);
  recorder.stop_recording(graph);
  EXPECT_EQ(graph.stream.starts(), 0u);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

// Devices as a scripted system enumerator: names, or nullopt for an unreadable one.
class ScriptedDevices : public DeviceEnumerator {
 public:
  Open result = Open::kOk;
  std::vector<std::optional<std::string>> names;
  std::size_t buffer_seen = 0;
  Open open(DeviceCategory) override { return result; }
  void for_each(std::size_t buffer_size,
                const std::function<void(const std::optional<std::string>&)>& visit) override {
    buffer_seen = buffer_size;
    for (const auto& n : names) visit(n);
  }
};

template <typename Table>
std::vector<std::string> entries(const Table& table) {
  std::vector<std::string> out;
  for (int i = 0; i < table.count(); ++i) out.push_back(table[i]);
  return out;
}

TEST(DeviceCatalogue, TablesAlwaysEndInNone) {
  using Open = DeviceEnumerator::Open;
  using Names = std::vector<std::optional<std::string>>;
  using Lines = std::vector<std::string>;
  struct Case {
    const char* name;
    Open open;
    Names found;
    int device_result, compressor_result;
    Lines table;
  } cases[] = {
      {"two devices",
       Open::kOk,
       {"USB Video Device", "Talvex Test Camera"},
       54,
       54,
       {"USB Video Device", "Talvex Test Camera", "<none>"}},
      {"no enumerator", Open::kNoEnumerator, {"never read"}, 21, 29, {"<none>"}},
      {"empty category", Open::kNotEnumerable, {}, 22, 30, {"<none>"}},
      {"unreadable names", Open::kOk, {std::nullopt, std::nullopt}, 23, 31, {"<none>"}},
      {"one unreadable", Open::kOk, {std::nullopt, "Cam"}, 54, 54, {"Cam", "<none>"}},
  };
  for (const Case& c : cases) {
    ScriptedDevices system;
    system.result = c.open;
    system.names = c.found;
    DeviceTable devices;
    EXPECT_EQ(list_video_devices(system, devices), c.device_result) << c.name;
    EXPECT_EQ(entries(devices), c.table) << c.name;
    EXPECT_EQ(system.buffer_seen, c.open == Open::kOk ? 74u : 0u) << c.name;
    CompressorTable compressors;
    EXPECT_EQ(list_video_compressors(system, compressors), c.compressor_result) << c.name;
    EXPECT_EQ(entries(compressors), c.table) << c.name;
  }
}

TEST(DeviceCatalogue, FullTablesKeepRoomForNone) {
  ScriptedDevices system;
  for (int i = 0; i < 40; ++i) system.names.push_back("camera " + std::to_string(i));
  DeviceTable devices;
  EXPECT_EQ(list_video_devices(system, devices), 54);
  ASSERT_EQ(devices.count(), 25);
  EXPECT_STREQ(devices[23], "camera 23");
  EXPECT_STREQ(devices[24], "<none>");
  // A second fill begins again at the start.
  system.names.resize(1);
  EXPECT_EQ(list_video_devices(system, devices), 54);
  EXPECT_EQ(devices.count(), 2);
}

TEST(DeviceCatalogue, ListFileHasBothSectionsWithLineFeeds) {
  testing::ScratchDirectory dir;
  ScriptedDevices system;
  system.names = {"Cam One"};
  DeviceTable devices;
  list_video_devices(system, devices);
  system.names = {"MJPEG Compressor", "Cinepak Codec by Radius"};
  CompressorTable compressors;
  list_video_compressors(system, compressors);
  EXPECT_EQ(write_list_file(devices, compressors), 33);
  EXPECT_EQ(testing::read_bytes("Talvex.lst"),
            "Cam One\n<none>\nMJPEG Compressor\nCinepak Codec by Radius\n<none>\n");

  system.result = DeviceEnumerator::Open::kNotEnumerable;
  list_video_devices(system, devices);
  list_video_compressors(system, compressors);
  EXPECT_EQ(write_list_file(devices, compressors), 33);
  EXPECT_EQ(testing::read_bytes("Talvex.lst"), "<none>\n<none>\n");

  testing::ScopedSystemCalls sys;
  sys->write_file = [](const void*, std::size_t, std::FILE*) -> std::size_t { return 0; };
  EXPECT_EQ(write_list_file(devices, compressors), 32);  // disk full: not claimed as written
  sys->open_file = [](const char*, const char*) -> std::FILE* { return nullptr; };
  EXPECT_EQ(write_list_file(devices, compressors), 32);
}

}  // namespace
}  // namespace talvex
