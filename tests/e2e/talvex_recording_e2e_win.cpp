// The capture program's whole road on the virtual cameras: motion starts recordings of
// the set length, "Capture Video" records until the program closes, "Capture Frames"
// keeps the snapshot fresh and uploads it to a real FTP server. The videos are left in
// TALVEX_TEST_OUTPUT for the ffprobe check that runs after this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"
#include "tests/win/filter_dlls_win.h"

namespace talvex::e2e {
namespace {

constexpr char kClass[] = "myWindowClassTX";

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Registers the virtual cameras and the compressor for this program's tests.
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

// A video folder that outlives the test when the ffprobe check needs its videos.
class VideoFolder {
 public:
  explicit VideoFolder(const std::string& name) {
    const std::string out = env("TALVEX_TEST_OUTPUT");
    if (out.empty()) {
      scratch_ = std::make_unique<ScratchFolder>();
      path_ = scratch_->path();
    } else {
      path_ = out + "\\" + name;
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
      std::filesystem::create_directories(path_);
    }
  }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& path() const { return path_; }
  std::vector<std::string> videos() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      const std::string n = e.path().filename().string();
      if (n.rfind("Talvex_Camera_", 0) == 0) names.push_back(n);
    }
    return names;
  }

 private:
  std::unique_ptr<ScratchFolder> scratch_;
  std::string path_;
};

// Runs Talvex in the folder for `seconds`, then closes it from its menu.
void run_for(const VideoFolder& folder, int seconds) {
  Program talvex = Program::start(program_path("Talvex.exe"), "", folder.path());
  HWND window = wait_window(kClass, nullptr, kDefaultTimeout, talvex.pid());
  ASSERT_NE(window, nullptr);
  ::Sleep(static_cast<DWORD>(seconds * 1000));
  post_command(window, 9001);
  ASSERT_TRUE(talvex.wait_exit(Timeout{20000}).has_value());
}

void write_config(const VideoFolder& folder, void (*configure)(Settings&)) {
  Settings s;
  s.video_folder = "_";
  s.video_device = "Talvex Test Camera";
  s.compressor = "Talvex MJPEG Compressor";
  configure(s);
  write_file(folder.file("Talvex.cfg"), settings_file_text(s));
}

TEST(TalvexRecording, MotionRecordsForTheSetDurationAndShutdownCleansUp) {
  VideoFolder folder("motion");
  write_config(folder, [](Settings& s) {
    s.motion_enabled = true;
    s.capture_frames = true;
    s.motion_duration = 2;
  });
  // The test scene's object crosses from second 2 to 4 of every 10.
  run_for(folder, 13);
  const auto videos = folder.videos();
  EXPECT_GE(videos.size(), 1u);
  EXPECT_TRUE(file_exists(folder.file("Talvex.jpg")));
  EXPECT_EQ(read_file(folder.file("Talvex.jpg")).substr(0, 2), "\xFF\xD8");
  for (const char* gone : {"Talvex_0.bmp", "Talvex_1.bmp", "Talvex_tmp.avi"}) {
    EXPECT_FALSE(file_exists(folder.file(gone))) << gone;
  }
  const std::string log = read_file(folder.file("Talvex.log"));
  EXPECT_NE(log.find("[T]\r\n************************************************\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("(015)"), std::string::npos) << log;  // frames were grabbed
}

TEST(TalvexRecording, CaptureVideoRecordsUntilTheEnd) {
  VideoFolder folder("continuous");
  write_config(folder, [](Settings& s) { s.capture_video = true; });
  run_for(folder, 4);
  EXPECT_EQ(folder.videos().size(), 1u);
  // Saved before the recording was stopped: the next start records again.
  const std::string cfg = read_file(folder.file("Talvex.cfg"));
  EXPECT_NE(cfg.find("Talvex_Test_Camera Talvex_MJPEG_Compressor 0 1 "), std::string::npos) << cfg;
}

TEST(TalvexRecording, SnapshotsReachTheFtpServer) {
  if (env("TALVEX_FTP_PORT").empty()) GTEST_SKIP() << "run through run_with_ftp_server.py";
  VideoFolder folder("ftp");
  static int port = 0;
  port = std::atoi(env("TALVEX_FTP_PORT").c_str());
  write_config(folder, [](Settings& s) {
    s.capture_frames = true;
    s.ftp_enabled = true;
    FtpTexts ftp;
    ftp.server = "127.0.0.1";
    ftp.port = port;
    ftp.user = "camera";
    ftp.password = "s3cret";
    ftp.destination = "cam/from_talvex.jpg";
    s.set_ftp(ftp);
  });
  run_for(folder, 4);
  const std::string remote = read_file(env("TALVEX_FTP_HOME") + "\\cam\\from_talvex.jpg");
  ASSERT_GT(remote.size(), 100u);
  EXPECT_EQ(remote.substr(0, 2), "\xFF\xD8");
  const std::string log = read_file(folder.file("Talvex.log"));
  EXPECT_EQ(log.find("(03"), std::string::npos) << log;  // no 038/039 failures
  EXPECT_EQ(log.find("(04"), std::string::npos) << log;
}

}  // namespace
}  // namespace talvex::e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new talvex::e2e::Cameras);
  return RUN_ALL_TESTS();
}
