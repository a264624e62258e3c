// The capture program's whole road on the virtual cameras: motion starts recordings of
// the set length, "Capture Video" records until the program closes, "Capture Frames"
// keeps the snapshot fresh and uploads it to a real FTP server. The videos are left in
// TALVEX_TEST_OUTPUT for the ffprobe check that runs after this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"

namespace talvex::e2e {
namespace {

constexpr char kClass[] = "myWindowClassTX";

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Registers the virtual cameras for this program's tests.
class Cameras : public ::testing::Environment {
 public:
  void SetUp() override {
    module_ = ::LoadLibraryA(program_path("talvex_filters.dll").c_str());
    ASSERT_NE(module_, nullptr);
    call("DllRegisterServer");
  }
  void TearDown() override {
    call("DllUnregisterServer");
    ::FreeLibrary(module_);
  }

 private:
  void call(const char* name) {
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    if (entry) entry();
  }
  HMODULE module_ = nullptr;
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

// The last write of a frame file, as the file system keeps it.
ULONGLONG last_write(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// Asks the harness to swap the server on the port, and waits until it has.
bool steer_server(const char* request) {
  const std::string control = env("TALVEX_FTP_CONTROL");
  const std::string done = control + "\\" + request + ".done";
  ::DeleteFileA(done.c_str());
  write_file(control + "\\" + request, "");
  return wait_until([&] { return file_exists(done); });
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whatever the FTP server does (run by run_with_stalled_servers.py, once per kind), the
// passes keep their period, motion still records, a dialog opens at once, the close is
// quick, and uploads resume as soon as a working server listens on the port.
TEST(TalvexStalledFtp, NothingWaitsForTheServer) {
  const std::string kind = env("TALVEX_FTP_STALL");
  if (kind.empty()) GTEST_SKIP() << "run through run_with_stalled_servers.py";
  VideoFolder folder("stalled_ftp");
  static int port = 0;
  port = std::atoi(env("TALVEX_FTP_PORT").c_str());
  write_config(folder, [](Settings& s) {
    s.capture_frames = true;
    s.motion_enabled = true;
    s.motion_duration = 1;
    s.ftp_enabled = true;
    FtpTexts ftp;
    ftp.server = "127.0.0.1";
    ftp.port = port;
    ftp.user = "camera";
    ftp.password = "s3cret";
    ftp.destination = "cam/stalled.jpg";
    s.set_ftp(ftp);
  });
  Program talvex = Program::start(program_path("Talvex.exe"), "", folder.path());
  HWND window = wait_window(kClass, nullptr, kDefaultTimeout, talvex.pid());
  ASSERT_NE(window, nullptr);

  // 20 s of passes against the failing server: every frame-file write is timed.
  const std::string frames[] = {folder.file("Talvex_0.bmp"), folder.file("Talvex_1.bmp")};
  ULONGLONG seen[2] = {0, 0};
  auto last_change = std::chrono::steady_clock::now();
  double longest_gap = 0;
  int writes = 0;
  double dialog_seconds = -1;
  const auto start = std::chrono::steady_clock::now();
  while (seconds_since(start) < 20) {
    for (int i = 0; i < 2; ++i) {
      const ULONGLONG t = last_write(frames[i]);
      if (t == 0 || t == seen[i]) continue;
      seen[i] = t;
      if (writes++ > 0) longest_gap = std::max(longest_gap, seconds_since(last_change));
      last_change = std::chrono::steady_clock::now();
    }
    if (dialog_seconds < 0 && seconds_since(start) > 12) {
      // A dialog while uploads hang: the window answers at once.
      const auto asked = std::chrono::steady_clock::now();
      post_command(window, 9012);
      HWND about = wait_dialog("About", Timeout{5000}, talvex.pid());
      dialog_seconds = seconds_since(asked);
      ASSERT_NE(about, nullptr);
      click(about, IDOK);
    }
    ::Sleep(10);
  }
  std::printf("%s: %d frame-file writes in 20 s, longest gap %.3f s, About open after %.3f s\n",
              kind.c_str(), writes, longest_gap, dialog_seconds);
  EXPECT_GE(writes, 50) << kind;  // about 80 at 250 ms each
  EXPECT_LT(longest_gap, 1.0) << kind;
  EXPECT_LT(dialog_seconds, 1.0) << kind;
  // The test scene's object crossed at least once: motion recorded meanwhile.
  EXPECT_GE(folder.videos().size(), 1u) << kind;

  // A working server on the port: the next snapshot arrives.
  ASSERT_TRUE(steer_server("working"));
  const std::string remote = env("TALVEX_FTP_HOME") + "\\cam\\stalled.jpg";
  const auto resumed = std::chrono::steady_clock::now();
  EXPECT_TRUE(wait_until([&] { return read_file(remote).size() > 100; }, Timeout{25000})) << kind;
  std::printf("%s: first upload %.1f s after a working server listened\n", kind.c_str(),
              seconds_since(resumed));

  // Failing again, with an attempt under way: the close does not wait for it.
  ASSERT_TRUE(steer_server("failing"));
  ::Sleep(2500);
  const auto closing = std::chrono::steady_clock::now();
  post_close(window);
  const auto code = talvex.wait_exit(Timeout{20000});
  const double close_seconds = seconds_since(closing);
  std::printf("%s: closed in %.3f s\n", kind.c_str(), close_seconds);
  ASSERT_TRUE(code.has_value()) << kind;
  EXPECT_EQ(*code, 0u) << kind;
  EXPECT_LT(close_seconds, 2.0) << kind;
  const std::string log = read_file(folder.file("Talvex.log"));
  if (kind != "refused") {
    // Attempts abandoned at their deadline are logged with their phase's number.
    EXPECT_TRUE(log.find("(039)") != std::string::npos || log.find("(040)") != std::string::npos ||
                log.find("(043)") != std::string::npos)
        << log;
  }
  EXPECT_NE(log.find("[T]\r\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace talvex::e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new talvex::e2e::Cameras);
  return RUN_ALL_TESTS();
}
