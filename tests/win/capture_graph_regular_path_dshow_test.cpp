// The capture graph's regular path, the one Windows takes: the test capture graph builder
// (test_graph_builder_dshow.cpp) comes in through the DshowCalls seam and answers
// SetOutputFileName, ControlStream and AllocCapFile as Microsoft's reference describes
// them, so the product's own build, start_recording and stop_recording run their design
// calls and never a fall-back. The cameras replay a few distinct frames, so a changing
// grabbed frame shows that preview frames flow. The videos are left in TALVEX_TEST_OUTPUT
// for ffprobe.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "capture/capture_graph.h"
#include "capture/dshow_devices_dshow.h"
#include "capture/recording.h"
#include "capture/working_files.h"
#include "tests/core/test_support.h"
#include "tests/win/filter_dlls_win.h"
#include "tests/win/test_graph_builder_dshow.h"

namespace talvex {
namespace {

constexpr char kReplayCamera[] = "Talvex Replay Camera";
constexpr char kMjpeg[] = "Talvex MJPEG Compressor";
constexpr int kWidth = 320, kHeight = 240;

std::vector<int> logged;
void remember(int number) { logged.push_back(number); }

std::vector<char> read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Size and FNV-1a hash of a file's bytes, short enough for a failure message.
std::string fingerprint(const std::vector<char>& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (char c : bytes) h = (h ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
  return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(h);
}

// A 24-bit bottom-up BMP of one colour with a band of another.
std::vector<char> bmp_frame(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const std::uint32_t stride = kWidth * 3, pixels = stride * kHeight;
  std::vector<char> bytes(54 + pixels);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, kWidth);
  put32(22, kHeight);
  bytes[26] = 1;
  bytes[28] = 24;
  put32(34, pixels);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool band = y > kHeight / 3 && y < kHeight / 2;
      char* p = bytes.data() + 54 + y * stride + x * 3;
      p[0] = static_cast<char>(band ? 255 - b : b);
      p[1] = static_cast<char>(band ? 255 - g : g);
      p[2] = static_cast<char>(band ? 255 - r : r);
    }
  }
  return bytes;
}

// Registers the cameras and the compressor, gives the replay camera its frames, and removes
// them afterwards.
class ReplayCameras : public ::testing::Environment {
 public:
  void SetUp() override {
    if (const char* out = std::getenv("TALVEX_TEST_OUTPUT")) {
      std::error_code ignored;
      std::filesystem::remove_all(out, ignored);
    }
    frames_ = std::filesystem::temp_directory_path() / "talvex_regular_path_frames";
    std::error_code ignored;
    std::filesystem::remove_all(frames_, ignored);
    std::filesystem::create_directories(frames_);
    const std::uint8_t colours[][3] = {{200, 30, 30},  {30, 200, 30},  {30, 30, 200},
                                       {200, 200, 30}, {30, 200, 200}, {200, 30, 200}};
    int n = 0;
    for (const auto& c : colours) {
      const auto bytes = bmp_frame(c[0], c[1], c[2]);
      std::ofstream(frames_ / ("frame_" + std::to_string(n++) + ".bmp"), std::ios::binary)
          .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FRAMES", frames_.string().c_str());
    dlls_ = std::make_unique<testing::FilterDlls>();
    ASSERT_EQ(dlls_->result(), S_OK);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(frames_, ignored);
    if (dlls_) EXPECT_EQ(dlls_->unregister(), S_OK);
  }

 private:
  std::unique_ptr<testing::FilterDlls> dlls_;
  std::filesystem::path frames_;
};

// The seam: the test builder for the capture graph builder, the platform for the rest.
HRESULT WINAPI create_with_test_builder(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                        void** object) {
  if (IsEqualCLSID(clsid, CLSID_CaptureGraphBuilder2) && !outer) {
    return testing::create_test_graph_builder(iid, object);
  }
  return ::CoCreateInstance(clsid, outer, context, iid, object);
}

// The RIFF chunk's end: where the multiplexer's file ends. Wine's mux, like Windows',
// writes 8 zero bytes after it.
std::uint64_t riff_end(const std::vector<char>& bytes) {
  if (bytes.size() < 8 || std::string(bytes.data(), 4) != "RIFF") return 0;
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i)
    size |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[4 + i])) << (8 * i);
  return std::uint64_t{size} + 8;
}

class RegularPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    saved_calls_ = dshow_calls();
    dshow_calls().create_instance = create_with_test_builder;
    logged.clear();
    const char* out = std::getenv("TALVEX_TEST_OUTPUT");
    if (out) {
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
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_PREVIEW_PIN", nullptr);
    if (!previous_.empty()) std::filesystem::current_path(previous_);
    scratch_.reset();
    ::CoUninitialize();
  }
  CaptureGraph& graph() {
    if (!graph_) graph_ = make_capture_graph(settings_, nullptr, remember);
    return *graph_;
  }
  std::uint64_t grabbed_hash() {
    long size = 0;
    if (!graph().grabbed_size(size)) return 0;
    std::vector<char> bytes(static_cast<std::size_t>(size));
    if (!graph().copy_grabbed(bytes.data(), size)) return 0;
    std::uint64_t h = 1469598103934665603ull;
    for (char c : bytes) h = (h ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    return h;
  }
  // Grabs for `ms` and counts how often the grabbed frame changed.
  int frame_changes(int ms) {
    int changes = 0;
    std::uint64_t last = grabbed_hash();
    for (int waited = 0; waited < ms; waited += 100) {
      ::Sleep(100);
      const std::uint64_t now = grabbed_hash();
      if (now != 0 && now != last) ++changes;
      last = now;
    }
    return changes;
  }

  DshowCalls saved_calls_{};
  Settings settings_;
  std::unique_ptr<CaptureGraph> graph_;
  std::unique_ptr<testing::ScratchDirectory> scratch_;
  std::filesystem::path previous_;
};

// Three recordings in a row on each kind of camera, the second shorter than the first.
TEST_F(RegularPathTest, RecordingsInARowOnEachKindOfCamera) {
  struct Case {
    const char* kind;
    const char* preview_pin;  // TALVEX_TESTCAM_PREVIEW_PIN
    const char* compressor;
    int gates;  // stream-control gates the builder puts behind Wine's Smart Tee
  } cases[] = {
      {"capture pin only, behind the Smart Tee", "0", kMjpeg, 1},
      {"capture and preview pins", "1", "<none>", 0},
  };
  const int seconds[] = {3, 1, 2};
  auto& calls = testing::test_builder_calls();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_PREVIEW_PIN", c.preview_pin);
    const int fallbacks = capture_graph_fallback_entries();
    const int output_files = calls.output_files, flows = calls.flows, holds = calls.holds,
              cap_files = calls.cap_files, gates = calls.gates;
    settings_.compression_enabled = std::string(c.compressor) != "<none>";
    ASSERT_EQ(graph().build(kReplayCamera, c.compressor), msg::kOk);
    EXPECT_EQ(settings_.compression_enabled, std::string(c.compressor) != "<none>");
    EXPECT_TRUE(logged.empty());

    Recorder recorder;
    std::vector<std::uintmax_t> sizes;
    for (int s : seconds) {
      SCOPED_TRACE(std::to_string(s) + " s");
      // Held off: preview frames reach the grabber, and nothing reaches the file.
      const std::string before = fingerprint(read_all(kTempRecordingName));
      EXPECT_GE(frame_changes(800), 4) << "preview while held off";
      EXPECT_EQ(fingerprint(read_all(kTempRecordingName)), before) << "written while held off";

      recorder.start_recording(graph());
      EXPECT_GE(frame_changes(s * 1000), s * 5) << "preview while recording";
      recorder.stop_recording(graph());

      const std::string name = recorder.last_video_name();
      ASSERT_TRUE(std::filesystem::exists(name)) << name;
      const auto video = read_all(name);
      // The copy ends where the multiplexer's file ends: nothing of an earlier, longer
      // recording is left behind it.
      EXPECT_GT(riff_end(video), 10000u) << name;
      EXPECT_LE(video.size(), riff_end(video) + 8) << name << ": stale bytes after the file";
      sizes.push_back(video.size());
    }
    EXPECT_LT(sizes[1], sizes[0]) << "the short recording after the long one";
    graph().release();

    // Only the regular calls ran.
    EXPECT_EQ(capture_graph_fallback_entries(), fallbacks);
    EXPECT_EQ(calls.output_files - output_files, 1);
    EXPECT_EQ(calls.flows - flows, 3);
    EXPECT_EQ(calls.holds - holds, 4);  // the build, and each stop
    EXPECT_EQ(calls.cap_files - cap_files, 3);
    EXPECT_EQ(calls.cap_file_size, 1024);
    EXPECT_EQ(calls.gates - gates, c.gates);
    EXPECT_TRUE(logged.empty());
  }
}

// A release of a running graph, recording or not, stops it and takes every filter out:
// the temporary file is closed and can be deleted at once, as the shutdown does.
TEST_F(RegularPathTest, ReleaseOfARunningGraphLetsTheFileGo) {
  ::SetEnvironmentVariableA("TALVEX_TESTCAM_PREVIEW_PIN", "1");
  settings_.compression_enabled = false;
  for (bool recording : {false, true}) {
    SCOPED_TRACE(recording ? "recording" : "held off");
    ASSERT_EQ(graph().build(kReplayCamera, "<none>"), msg::kOk);
    EXPECT_GE(frame_changes(500), 2);
    Recorder recorder;
    if (recording) recorder.start_recording(graph());
    ::Sleep(500);
    graph().release();
    long size = 0;
    EXPECT_FALSE(graph().grabbed_size(size));
    std::error_code error;
    EXPECT_TRUE(std::filesystem::remove(kTempRecordingName, error)) << error.message();
  }
}

}  // namespace
}  // namespace talvex

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new talvex::ReplayCameras);
  return RUN_ALL_TESTS();
}
