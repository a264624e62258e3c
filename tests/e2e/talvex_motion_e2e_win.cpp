// The motion detector's light filter, mask and warm-up in the real program: the Replay
// camera plays the generated sequences (one frame a capture pass), and what the program
// recorded says what it decided.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "capture/motion_mask.h"
#include "tests/core/motion_scenes.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"
#include "tests/win/filter_dlls_win.h"

namespace talvex::e2e {
namespace {

constexpr char kClass[] = "myWindowClassTX";
constexpr char kReplayCamera[] = "Talvex Replay Camera";
constexpr int kWidth = 320;
constexpr int kHeight = 240;

class Cameras : public ::testing::Environment {
 public:
  void SetUp() override {
    dlls_ = std::make_unique<testing::FilterDlls>(program_path(""));
    ASSERT_EQ(dlls_->result(), S_OK);
  }
  void TearDown() override { dlls_.reset(); }

 private:
  std::unique_ptr<testing::FilterDlls> dlls_;
};

// The Replay camera plays this folder's frames, `fps` a second, for the programs started
// while the object lives.
class ReplayFrames {
 public:
  ReplayFrames(const ScratchFolder& folder, const std::vector<testing::Picture>& frames, int fps) {
    path_ = folder.file("frames");
    std::filesystem::create_directories(path_);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%04zu.bmp", i);
      write_file(path_ + "\\" + name, testing::bmp_bytes(frames[i]));
    }
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FRAMES", path_.c_str());
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FPS", std::to_string(fps).c_str());
  }
  ~ReplayFrames() {
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FRAMES", nullptr);
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_FPS", nullptr);
  }

 private:
  std::string path_;
};

int videos_in(const ScratchFolder& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder.path())) {
    if (e.path().filename().string().rfind("Talvex_Camera_", 0) == 0) ++n;
  }
  return n;
}

struct RunSettings {
  float threshold = 7.5f;
  bool light_filter = false;
  int warm_up = 0;
};

void write_config(const ScratchFolder& folder, const RunSettings& r) {
  Settings s;
  s.video_folder = "_";
  s.video_device = kReplayCamera;
  s.compressor = "Talvex MJPEG Compressor";
  s.motion_enabled = true;
  s.motion_duration = 1;
  s.motion_threshold = r.threshold;
  s.light_filter = r.light_filter;
  s.warm_up = r.warm_up;
  write_file(folder.file("Talvex.cfg"), settings_file_text(s));
}

class TalvexRun {
 public:
  explicit TalvexRun(const ScratchFolder& folder)
      : program_(Program::start(program_path("Talvex.exe"), "", folder.path())) {
    window_ = wait_window(kClass, nullptr, kDefaultTimeout, program_.pid());
  }
  HWND window() const { return window_; }
  DWORD pid() const { return program_.pid(); }
  void close() {
    post_command(window_, 9001);
    EXPECT_EQ(program_.wait_exit(Timeout{20000}), 0u);
  }

 private:
  Program program_;
  HWND window_ = nullptr;
};

// The main rows of the sequence table at the most sensitive threshold, 3.0, where the
// design's measure alarms at every light change: with the light filter on (and the mask in
// place for the tree's rows) the program records exactly where the table says there is
// motion. Each sequence plays twice over (the camera loops it); the lamp's loop also
// switches it off again. Without the filter, the lamp records, as the design does.
TEST(TalvexMotion, SequencesRecordWhereTheTableSaysMotion) {
  const struct {
    const char* row;
    bool light_filter;
    bool records;
  } cases[] = {
      {"lamp on", false, true},
      {"lamp on", true, false},
      {"exposure ramp", true, false},
      {"cloud", true, false},
      {"person crossing", true, true},
      {"person during the ramp", true, true},
      {"object close to the lens", true, true},
      {"tree waving, masked", true, false},
      {"person outside the mask", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.row) + (c.light_filter ? ", filter on" : ", filter off"));
    const testing::SceneRow& row =
        *std::find_if(testing::scene_rows().begin(), testing::scene_rows().end(),
                      [&c](const testing::SceneRow& r) { return std::string(r.name) == c.row; });
    ScratchFolder folder;
    const std::vector<testing::Picture> frames = testing::scene_frames(c.row, kWidth, kHeight);
    ReplayFrames replay(folder, frames, testing::kScenesPerSecond);
    RunSettings settings;
    settings.threshold = 3.0f;
    settings.light_filter = c.light_filter;
    write_config(folder, settings);
    if (row.masked) {
      write_file(folder.file(kMaskFileName),
                 testing::bmp_bytes(testing::tree_mask(kWidth, kHeight)));
    }
    TalvexRun run(folder);
    ASSERT_NE(run.window(), nullptr);
    const int loop_ms = static_cast<int>(frames.size()) * 1000 / testing::kScenesPerSecond;
    ::Sleep(static_cast<DWORD>(2 * loop_ms + 1500));
    run.close();
    const int videos = videos_in(folder);
    std::printf("%-28s filter %-3s: %d video(s)\n", c.row, c.light_filter ? "on" : "off", videos);
    EXPECT_EQ(videos > 0, c.records) << videos;
    const std::string log = read_file(folder.file("Talvex.log"));
    EXPECT_EQ(log.find("(052)"), std::string::npos) << log;
  }
}

// A camera whose first frames are dark (its exposure opening from black over a second, then
// a still room): the program's start and a graph rebuild from the Video Device dialog each
// show it. With warm_up=2 the detector answers "no motion" through it and nothing is
// recorded; with warm_up=0 (a two-line file's value) both record, as the design does.
TEST(TalvexMotion, WarmUpAfterTheStartAndARebuild) {
  for (int warm_up : {2, 0}) {
    SCOPED_TRACE("warm_up=" + std::to_string(warm_up));
    ScratchFolder folder;
    ReplayFrames replay(folder, testing::dark_then_still(4, 40, kWidth, kHeight), 4);
    RunSettings settings;
    settings.warm_up = warm_up;
    write_config(folder, settings);
    TalvexRun run(folder);
    ASSERT_NE(run.window(), nullptr);
    ::Sleep(4000);
    post_command(run.window(), 9010);  // Video Device...
    HWND dialog = wait_dialog("Video Device Configuration", kDefaultTimeout, run.pid());
    ASSERT_NE(dialog, nullptr);
    HWND list = ::GetDlgItem(dialog, 202);
    const LRESULT replay_line = ::SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                               reinterpret_cast<LPARAM>(kReplayCamera));
    ASSERT_NE(replay_line, LB_ERR);
    ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(replay_line), 0);
    click(dialog, IDOK);
    ASSERT_TRUE(wait_gone(dialog));
    ::Sleep(4000);
    run.close();
    const int videos = videos_in(folder);
    std::printf("warm_up=%d: %d video(s)\n", warm_up, videos);
    if (warm_up > 0) {
      EXPECT_EQ(videos, 0);
    } else {
      EXPECT_GE(videos, 2) << "the start and the rebuild each record";
    }
  }
}

// A mask file that cannot be used is said once in the log, and the program detects as
// without it.
TEST(TalvexMotion, AnUnusableMaskIsSaidOnce) {
  ScratchFolder folder;
  ReplayFrames replay(folder, testing::scene_frames("tree waving, masked", kWidth, kHeight),
                      testing::kScenesPerSecond);
  RunSettings settings;
  settings.threshold = 3.0f;
  write_config(folder, settings);
  write_file(folder.file(kMaskFileName), std::string("BM") + std::string(100, '\0'));
  TalvexRun run(folder);
  ASSERT_NE(run.window(), nullptr);
  ::Sleep(5000);
  run.close();
  const std::string log = read_file(folder.file("Talvex.log"));
  const std::string text = "Unable to use \"Talvex_mask.bmp\". Ignoring it. (052)";
  const auto first = log.find(text);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(text, first + 1), std::string::npos) << log;
  EXPECT_GT(videos_in(folder), 0) << "the tree records without a mask";
}

}  // namespace
}  // namespace talvex::e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new talvex::e2e::Cameras);
  return RUN_ALL_TESTS();
}
