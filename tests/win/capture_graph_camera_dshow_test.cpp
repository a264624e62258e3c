// The capture graph and recordings on our virtual cameras under Wine. The recorded videos
// are left in the folder named by TALVEX_TEST_OUTPUT, where the next test checks them
// with ffprobe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <vector>
#include "tests/win/platform_handles_win.h"
#include "tests/win/process_counts_win.h"

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "capture/capture_graph.h"
#include "capture/capture_loop.h"
#include "capture/dshow_devices_dshow.h"
#include "capture/recording.h"
#include "capture/working_files.h"
#include "tests/core/test_support.h"
#include "tests/win/filter_dlls_win.h"

namespace talvex {
namespace {

constexpr char kTestCamera[] = "Talvex Test Camera";
constexpr char kStillCamera[] = "Talvex Still Camera";
constexpr char kMjpeg[] = "Talvex MJPEG Compressor";

std::vector<int> logged;
void remember(int number) { logged.push_back(number); }

// Registers the cameras and the compressor for the tests of this file and removes them
// afterwards.
class Cameras : public ::testing::Environment {
 public:
  void SetUp() override {
    // Videos of an earlier run would be checked again.
    if (const char* out = std::getenv("TALVEX_TEST_OUTPUT")) {
      std::error_code ignored;
      std::filesystem::remove_all(out, ignored);
    }
    dlls_ = std::make_unique<testing::FilterDlls>();
    ASSERT_EQ(dlls_->result(), S_OK);
  }
  void TearDown() override {
    if (dlls_) EXPECT_EQ(dlls_->unregister(), S_OK);
  }

 private:
  std::unique_ptr<testing::FilterDlls> dlls_;
};

// Where the videos go for the ffprobe check; a scratch folder otherwise.
std::string output_folder() {
  const char* out = std::getenv("TALVEX_TEST_OUTPUT");
  return out ? out : "";
}

class CameraGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    saved_calls_ = dshow_calls();
    logged.clear();
    settings_.compression_enabled = false;
    const std::string out = output_folder();
    if (!out.empty()) {
      std::filesystem::create_directories(out);
      previous_ = std::filesystem::current_path();
      std::filesystem::current_path(out);
    } else {
      scratch_ = std::make_unique<testing::ScratchDirectory>();
    }
  }
  void TearDown() override {
    if (graph_) graph_->release();
    graph_.reset();
    dshow_calls() = saved_calls_;
    if (!previous_.empty()) std::filesystem::current_path(previous_);
    scratch_.reset();
    ::CoUninitialize();
  }
  CaptureGraph& graph() {
    if (!graph_) graph_ = make_capture_graph(settings_, nullptr, remember);
    return *graph_;
  }
  // Waits until the grabber holds a frame.
  bool frame_arrives() {
    for (int i = 0; i < 100; ++i) {
      long size = 0;
      if (graph().grabbed_size(size)) return true;
      ::Sleep(50);
    }
    return false;
  }

  DshowCalls saved_calls_{};
  Settings settings_;
  std::unique_ptr<CaptureGraph> graph_;
  std::unique_ptr<testing::ScratchDirectory> scratch_;
  std::filesystem::path previous_;
};

template <typename Table>
std::vector<std::string> entries(const Table& table) {
  std::vector<std::string> out;
  for (int i = 0; i < table.count(); ++i) out.push_back(table[i]);
  return out;
}

TEST_F(CameraGraphTest, CatalogueListsTheCamerasAndTheCompressor) {
  auto enumerator = make_device_enumerator();
  DeviceTable devices;
  EXPECT_EQ(list_video_devices(*enumerator, devices), msg::kOk);
  auto names = entries(devices);
  EXPECT_EQ(names.back(), "<none>");
  for (const char* camera : {kTestCamera, kStillCamera, "Talvex Replay Camera"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), camera), names.end()) << camera;
  }
  CompressorTable compressors;
  EXPECT_EQ(list_video_compressors(*enumerator, compressors), msg::kOk);
  names = entries(compressors);
  EXPECT_NE(std::find(names.begin(), names.end(), kMjpeg), names.end());
}

TEST_F(CameraGraphTest, BuildsForExactNamesOnly) {
  EXPECT_EQ(graph().build("talvex test camera", "<none>"), 24);  // case counts
  EXPECT_EQ(settings_.video_device, "<none>");
  graph().release();
  EXPECT_EQ(graph().build(kTestCamera, "<none>"), msg::kOk);
  EXPECT_EQ(settings_.video_device, kTestCamera);
  EXPECT_TRUE(frame_arrives());
  EXPECT_TRUE(logged.empty());
}

// "-g": every build saves the graph; only E_FAIL (no graph) is reported, as 012. Wine's
// graph has no persistent form, so it answers with another failure and nothing is logged.
TEST_F(CameraGraphTest, SaveGraphWithEveryBuild) {
  settings_.save_graph = true;
  ASSERT_EQ(graph().build(kTestCamera, "<none>"), msg::kOk);
  const long saved = graph().save_graph_file("Talvex.grf");
  if (saved == S_OK) {
    EXPECT_TRUE(std::filesystem::exists("Talvex.grf"));
  } else {
    EXPECT_NE(saved, E_FAIL);
  }
  EXPECT_TRUE(logged.empty());
  graph().release();
  EXPECT_EQ(graph().save_graph_file("Talvex.grf"), E_FAIL);  // no graph
}

// Frames reach the grabber in the format of the screen's depth. A camera with a preview
// pin serves the grabber's type directly, so every depth can be asked for; behind a Smart
// Tee the camera's own first type (the real screen's depth) goes to both branches.
TEST_F(CameraGraphTest, GrabberFormatFollowsTheScreenDepth) {
  static int depth = 0;
  const int screen = dshow_calls().screen_bits();
  struct Case {
    const char* camera;
    int bits;
  } cases[] = {{kStillCamera, 16}, {kStillCamera, 24}, {kStillCamera, 32}, {kTestCamera, screen}};
  for (const Case& c : cases) {
    depth = c.bits;
    dshow_calls().screen_bits = [] { return depth; };
    ASSERT_EQ(graph().build(c.camera, "<none>"), msg::kOk) << c.camera << " " << c.bits;
    ASSERT_TRUE(frame_arrives()) << c.camera << " " << c.bits;
    GrabbedFormat format;
    ASSERT_TRUE(graph().grabbed_format(format));
    EXPECT_EQ(format.bit_count, c.bits) << c.camera;
    EXPECT_EQ(format.width, 320);
    EXPECT_EQ(format.height, 240);  // bottom-up
    long size = 0;
    graph().grabbed_size(size);
    EXPECT_EQ(size, ((320 * c.bits / 8 + 3) & ~3) * 240) << c.camera << " " << c.bits;
    std::vector<char> bytes(static_cast<std::size_t>(size));
    EXPECT_TRUE(graph().copy_grabbed(bytes.data(), size));
    graph().release();
  }
  // An 8-bit screen asks for palettised frames, which no camera here gives: the graph
  // still runs, and grabbing fails.
  depth = 8;
  ASSERT_EQ(graph().build(kStillCamera, "<none>"), msg::kOk);
  ::Sleep(500);
  long size = 0;
  EXPECT_FALSE(graph().grabbed_size(size));
}

TEST_F(CameraGraphTest, CompressorFallBacks) {
  struct Case {
    const char* compressor;
    int logged_number;  // 0: nothing logged
    const char* compressor_after;
  } cases[] = {
      {"No Such Codec", 19, "<none>"},
      {"Cinepak Video codec", 27, "<none>"},  // found, but it can't encode here
      {kMjpeg, 0, kMjpeg},
  };
  for (const Case& c : cases) {
    logged.clear();
    settings_.compression_enabled = true;
    ASSERT_EQ(graph().build(kTestCamera, c.compressor), msg::kOk) << c.compressor;
    EXPECT_EQ(settings_.compressor, c.compressor_after) << c.compressor;
    EXPECT_EQ(settings_.compression_enabled, c.logged_number == 0) << c.compressor;
    if (c.logged_number) {
      EXPECT_EQ(logged, std::vector<int>{c.logged_number}) << c.compressor;
    } else {
      EXPECT_TRUE(logged.empty()) << c.compressor;
    }
    EXPECT_TRUE(frame_arrives()) << c.compressor;
    graph().release();
  }
}

// Recordings: nothing is written between them, each ends as its own complete file.
TEST_F(CameraGraphTest, RecordingsInARow) {
  struct Case {
    const char* camera;
    const char* compressor;
    int seconds;
  } cases[] = {{kTestCamera, kMjpeg, 3}, {kStillCamera, "<none>", 2}, {kTestCamera, kMjpeg, 2}};
  Recorder recorder;
  for (const Case& c : cases) {
    settings_.compression_enabled = std::string(c.compressor) != "<none>";
    ASSERT_EQ(graph().build(c.camera, c.compressor), msg::kOk) << c.camera;
    ASSERT_TRUE(frame_arrives());
    // Between recordings nothing is written: no temporary file.
    ::Sleep(700);
    EXPECT_FALSE(std::filesystem::exists(kTempRecordingName));

    recorder.start_recording(graph());
    ::Sleep(static_cast<DWORD>(c.seconds * 1000));
    recorder.stop_recording(graph());
    const std::string name = recorder.last_video_name();
    ASSERT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_GT(std::filesystem::file_size(name), 10000u) << name;
    EXPECT_TRUE(frame_arrives()) << "the preview runs on";
    ::Sleep(1200);  // the next name starts in another second
    graph().release();
  }
}

// Passes grab, on a thread of their own that takes no lock the rebuilds take, while the
// graph is released and rebuilt.
TEST_F(CameraGraphTest, RebuildWhilePassesRun) {
  class GrabSteps : public CaptureSteps {
   public:
    explicit GrabSteps(CaptureGraph& g) : graph(g) {}
    int grab_frame() override {
      long size = 0;
      if (!graph.grabbed_size(size)) return msg::kGrabberFailed;
      std::vector<char> bytes(static_cast<std::size_t>(size));
      ++grabs;
      return graph.copy_grabbed(bytes.data(), size) ? msg::kOk : msg::kGrabberFailed;
    }
    int write_frame_file(int) override { return msg::kOk; }
    int make_snapshot(int) override { return msg::kOk; }
    int start_upload(const char*, const FtpTexts&) override { return msg::kOk; }
    bool finished_upload(int&) override { return false; }
    bool detect_motion() override { return false; }
    void request_recording_start() override {}
    void request_recording_stop() override {}
    void log_message(int) override {}
    CaptureGraph& graph;
    std::atomic<int> grabs{0};
  };
  Settings loop_settings;
  loop_settings.motion_enabled = true;
  GrabSteps steps(graph());
  CaptureThread thread(loop_settings, steps);
  ASSERT_EQ(thread.start(), msg::kOk);
  // Counted in the system's handle table: GetProcessHandleCount answers 0 under Wine.
  const unsigned long handles_before = testing::process_handle_count(::GetCurrentProcessId());
  for (int i = 0; i < 12; ++i) {
    graph().release();
    ASSERT_EQ(graph().build(i % 2 ? kStillCamera : kTestCamera, "<none>"), msg::kOk);
    ::Sleep(300);
  }
  thread.stop();
  graph().release();
  const unsigned long handles_after = testing::process_handle_count(::GetCurrentProcessId());
  // What the platform keeps of twelve rebuilds by itself, beside what the graph code gained.
  const long platform = testing::platform_rebuild_handles(12);
  std::printf("12 rebuilds: %ld handles gained, the platform's own share %ld\n",
              static_cast<long>(handles_after) - static_cast<long>(handles_before), platform);
  EXPECT_GT(steps.grabs.load(), 0);
  EXPECT_GT(handles_before, 0u);
  EXPECT_LE(static_cast<long>(handles_after), static_cast<long>(handles_before) + platform + 20)
      << handles_before;
}

}  // namespace
}  // namespace talvex

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new talvex::Cameras);
  return RUN_ALL_TESTS();
}
