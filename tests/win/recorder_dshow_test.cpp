// The recorder in the capture graph under Wine, on the Replay camera playing numbered
// frames (the frame's number is in its picture: the grey of its left half counts sixteens,
// that of its right half ones): a motion recording begins with the seconds before its
// start, and a continuous recording across a whole hour of the local clock becomes two
// videos that together hold every frame once. The videos are left in TALVEX_TEST_OUTPUT
// with what was expected of them, for tests/win/check_recorder_videos.py (ffmpeg decodes
// the numbers).
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "capture/capture_graph.h"
#include "capture/recording.h"
#include "capture/working_files.h"
#include "common/system_calls.h"
#include "tests/win/filter_dlls_win.h"

namespace talvex {
namespace {

constexpr int kWidth = 160, kHeight = 120;
constexpr int kNumbered = 256;  // frames in the loop, 17 s at 15 a second

std::string output_folder() {
  const char* out = std::getenv("TALVEX_TEST_OUTPUT");
  return out ? out : "";
}

// A 24-bit BMP whose halves carry the number.
std::string numbered_bmp(int number) {
  const int stride = kWidth * 3;
  std::string b(54 + stride * kHeight, '\0');
  auto put = [&](int at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put(2, static_cast<std::uint32_t>(b.size()), 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, kWidth, 4);
  put(22, kHeight, 4);
  put(26, 1, 2);
  put(28, 24, 2);
  const char high = static_cast<char>((number / 16) * 16 + 8);
  const char low = static_cast<char>((number % 16) * 16 + 8);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const char v = x < kWidth / 2 ? high : low;
      for (int c = 0; c < 3; ++c) b[54 + y * stride + x * 3 + c] = v;
    }
  }
  return b;
}

// The number in the newest grabbed frame (the preview's copy of the same picture).
int grabbed_number(CaptureGraph& graph) {
  GrabbedFormat format;
  long size = 0;
  if (!graph.grabbed_format(format) || !graph.grabbed_size(size)) return -1;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!graph.copy_grabbed(bytes.data(), size)) return -1;
  const int bpp = format.bit_count / 8;
  if (bpp < 3) return -1;  // the levels survive only in 24 and 32 bits
  const int stride = ((format.width * format.bit_count + 31) / 32) * 4;
  const std::uint8_t* row = bytes.data() + static_cast<std::size_t>(format.height / 2) * stride;
  const int high = row[(format.width / 4) * bpp], low = row[(3 * format.width / 4) * bpp];
  return (high / 16) * 16 + low / 16;
}

// The owner window of the graph: the recorder's split requests arrive here.
Recorder* owner_recorder = nullptr;
CaptureGraph* owner_graph = nullptr;
LRESULT CALLBACK owner_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == kRecordingSplitMessage && owner_recorder && owner_graph) {
    owner_recorder->split_recording(*owner_graph);
    return 0;
  }
  return ::DefWindowProcA(window, message, w, l);
}

void pump_for(int milliseconds) {
  const ULONGLONG end = ::GetTickCount64() + milliseconds;
  while (::GetTickCount64() < end) {
    MSG m;
    while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&m);
    ::Sleep(20);
  }
}

class RecorderGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    dlls_ = std::make_unique<testing::FilterDlls>();
    ASSERT_EQ(dlls_->result(), S_OK);
    out_ = output_folder();
    ASSERT_FALSE(out_.empty()) << "TALVEX_TEST_OUTPUT names the folder for the check";
    frames_ = out_ + "_frames";
    std::filesystem::create_directories(frames_);
    for (int i = 0; i < kNumbered; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "%04d.bmp", i);
      std::ofstream(frames_ + "\\" + name, std::ios::binary) << numbered_bmp(i);
    }
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FRAMES", frames_.c_str());
    WNDCLASSA c{};
    c.lpfnWndProc = owner_procedure;
    c.hInstance = ::GetModuleHandleA(nullptr);
    c.lpszClassName = "TalvexRecorderTestOwner";
    ::RegisterClassA(&c);
    window_ = ::CreateWindowExA(0, c.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                                nullptr, nullptr, c.hInstance, nullptr);
    ASSERT_TRUE(window_);
    settings_.compression_enabled = true;
    graph_ = make_capture_graph(settings_, window_, nullptr);
    owner_graph = graph_.get();
    owner_recorder = &recorder_;
  }
  void TearDown() override {
    owner_recorder = nullptr;
    owner_graph = nullptr;
    if (graph_) graph_->release();
    graph_.reset();
    if (window_) ::DestroyWindow(window_);
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FRAMES", nullptr);
    if (dlls_) dlls_->unregister();
    ::CoUninitialize();
  }
  // Records into a folder of its own, left for the check with `expect` beside the videos.
  void in_folder(const std::string& name) {
    folder_ = out_ + "\\" + name;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
  }
  void expect(const std::string& line) {
    std::ofstream(folder_ + "\\expect.txt", std::ios::app) << line << "\n";
  }

  Settings settings_;
  Recorder recorder_;
  std::unique_ptr<testing::FilterDlls> dlls_;
  std::unique_ptr<CaptureGraph> graph_;
  HWND window_ = nullptr;
  std::string out_, frames_, folder_;
};

TEST_F(RecorderGraphTest, AMotionRecordingBeginsWithTheSecondsBeforeItsStart) {
  in_folder("pre_event");
  settings_.pre_event = 3;
  ASSERT_EQ(graph_->build("Talvex Replay Camera", "Talvex MJPEG Compressor"), msg::kOk);
  ASSERT_EQ(std::string(settings_.compressor.c_str()), "Talvex MJPEG Compressor");
  pump_for(5000);  // the ring fills
  const int trigger = grabbed_number(*graph_);
  ASSERT_GE(trigger, 0);
  recorder_.start_recording(*graph_, true, 3);
  pump_for(2000);
  recorder_.stop_recording(*graph_);
  EXPECT_EQ(recorder_.unlogged_failures(), 0);
  ASSERT_TRUE(std::filesystem::exists(recorder_.last_video_name()));
  // The first frame is the one 3 s (45 frames) before the frame seen at the start.
  expect("first " + std::to_string((trigger - 45 + kNumbered) % kNumbered) + " 5");
  expect("at_least " + std::to_string(45 + 2 * 15 - 8));
  expect("consecutive");
}

// The local clock runs from 10:59:57 on, so that the recording crosses 11:00.
std::chrono::steady_clock::time_point clock_origin;
CalendarTime near_the_hour() {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - clock_origin)
                           .count();
  const long long ms = 57 * 1000 + elapsed;
  CalendarTime t{2026, 12, 10, 10, 59, 0, 0};
  t.second = static_cast<int>(ms / 1000);
  t.milliseconds = static_cast<int>(ms % 1000);
  if (t.second >= 60) {
    t.hour = 11;
    t.minute = 0;
    t.second -= 60;
  }
  return t;
}

TEST_F(RecorderGraphTest, AContinuousRecordingAcrossAWholeHourBecomesTwoVideos) {
  in_folder("hour_split");
  const SystemCalls saved = system_calls();
  // The clock is set before the graph runs: its streaming thread reads it.
  clock_origin = std::chrono::steady_clock::now();
  system_calls().local_time = near_the_hour;
  ASSERT_EQ(graph_->build("Talvex Replay Camera", "Talvex MJPEG Compressor"), msg::kOk);
  pump_for(1000);
  recorder_.start_recording(*graph_, false, 0);
  pump_for(5000);  // to 11:00:03
  recorder_.stop_recording(*graph_);
  graph_->release();
  system_calls() = saved;
  EXPECT_EQ(recorder_.unlogged_failures(), 0);
  expect("videos 2");
  expect("first_name_ends 11-00-00");
  expect("second_name_starts 11-00-00");
  expect("at_least " + std::to_string(5 * 15 - 8));
  expect("consecutive");
}

}  // namespace
}  // namespace talvex
