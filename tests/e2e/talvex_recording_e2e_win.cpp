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
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"
#include "tests/win/filter_dlls_win.h"
#include "tests/win/platform_handles_win.h"

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

// Runs Talvex in the folder until `done` holds (polled) or for at most `seconds`, then
// closes it from its menu; it ends with exit code 0.
template <typename Done>
void run_until(const VideoFolder& folder, int seconds, Done done) {
  Program talvex = Program::start(program_path("Talvex.exe"), "", folder.path());
  HWND window = wait_window(kClass, nullptr, kDefaultTimeout, talvex.pid());
  ASSERT_NE(window, nullptr);
  wait_until(done, Timeout{seconds * 1000});
  post_command(window, 9001);
  EXPECT_EQ(talvex.wait_exit(Timeout{20000}), 0u);
}

void run_for(const VideoFolder& folder, int seconds) {
  run_until(folder, seconds, [] { return false; });
}

// The FTP server of the harness that runs this test, on 127.0.0.1 at TALVEX_FTP_PORT.
FtpTexts harness_server(const char* destination) {
  FtpTexts ftp;
  ftp.server = "127.0.0.1";
  ftp.port = std::atoi(env("TALVEX_FTP_PORT").c_str());
  ftp.user = "camera";
  ftp.password = "s3cret";
  ftp.destination = destination;
  return ftp;
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
  // The test scene's object crosses from second 2 to 4 of every 10 (of the stream time,
  // which restarts with the graph). Closed as soon as a second recording has ended, long
  // before the object comes back, so that no recording is cut short by the close: the
  // ffprobe check that follows wants each of them to last the set 2 s.
  run_until(folder, 30, [&] { return folder.videos().size() >= 2; });
  const auto videos = folder.videos();
  EXPECT_EQ(videos.size(), 2u);
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
  write_config(folder, [](Settings& s) {
    s.capture_frames = true;
    s.ftp_enabled = true;
    s.set_ftp(harness_server("cam/from_talvex.jpg"));
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
  write_config(folder, [](Settings& s) {
    s.capture_frames = true;
    s.motion_enabled = true;
    s.motion_duration = 1;
    s.ftp_enabled = true;
    s.set_ftp(harness_server("cam/stalled.jpg"));
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

// The test cameras' drop-out schedule for the programs this test starts.
class ScopedDropout {
 public:
  explicit ScopedDropout(const char* schedule) {
    ::SetEnvironmentVariableA("TALVEX_TESTCAM_DROPOUT", schedule);
  }
  ~ScopedDropout() { ::SetEnvironmentVariableA("TALVEX_TESTCAM_DROPOUT", nullptr); }
};

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A program run with its log watched: when each message first appeared, in seconds since
// the program was started (the drop-out schedule counts from its creation).
class WatchedRun {
 public:
  explicit WatchedRun(const VideoFolder& folder)
      : folder_(folder),
        started_(std::chrono::steady_clock::now()),
        program_(Program::start(program_path("Talvex.exe"), "", folder.path())) {
    window_ = wait_window(kClass, nullptr, kDefaultTimeout, program_.pid());
  }
  HWND window() const { return window_; }
  Program& program() { return program_; }
  std::string log() const { return read_file(folder_.file("Talvex.log")); }
  // Waits until the log holds `text` at least `times` times; the second it did, or -1.
  double wait_log(const std::string& text, double until_second, int times = 1) {
    while (seconds_since(started_) < until_second) {
      if (count_of(log(), text) >= times) return seconds_since(started_);
      ::Sleep(50);
    }
    return -1;
  }
  void sleep_until(double second) {
    const double left = second - seconds_since(started_);
    if (left > 0) ::Sleep(static_cast<DWORD>(left * 1000));
  }
  // Closes from the menu: the seconds the close took.
  double close() {
    const auto closing = std::chrono::steady_clock::now();
    post_command(window_, 9001);
    const auto code = program_.wait_exit(Timeout{20000});
    EXPECT_TRUE(code.has_value());
    if (code) EXPECT_EQ(*code, 0u);
    return seconds_since(closing);
  }

 private:
  const VideoFolder& folder_;
  std::chrono::steady_clock::time_point started_;
  Program program_;
  HWND window_ = nullptr;
};

const char kStopped[] = "\"Video Capture Device\" stopped sending frames. (047)";
const char kBack[] = "\"Video Capture Device\" is sending frames again. (048)";

// A drop-out while motion records is said once and its return once; motion records again
// afterwards. A freeze from second 3 to 11 is seen 3 s after the last frame, the video under
// way then finished, and the return on the same graph; a camera unplugged at second 3 and
// plugged in again at second 7 is seen at once through the graph's events and comes back
// at a retry's rebuild. Both then record the test scene's crossing at second 12.
TEST(TalvexDropout, MotionRecordingThroughADropout) {
  const struct {
    const char* name;
    const char* schedule;
    int motion_duration;
    double stopped_after, stopped_before;
    double back_after, back_before;
    bool video_at_stop;  // a recording was under way when the camera went silent
  } cases[] = {
      {"freeze", "3,8", 5, 5.5, 7.5, 10.5, 13, true},
      {"lost", "3,4,lost", 1, 2.9, 4.5, 7, 10, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedDropout dropout(c.schedule);
    VideoFolder folder(std::string("dropout_") + c.name);
    static int duration = 0;
    duration = c.motion_duration;
    write_config(folder, [](Settings& s) {
      s.motion_enabled = true;
      s.motion_duration = duration;
    });
    WatchedRun run(folder);
    ASSERT_NE(run.window(), nullptr);
    const double stopped = run.wait_log(kStopped, c.stopped_before + 2.5);
    if (c.video_at_stop) {
      EXPECT_TRUE(wait_until([&] { return folder.videos().size() == 1; }, Timeout{3000}))
          << "the recording under way is finished at the drop-out";
    }
    const double back = run.wait_log(kBack, c.back_before + 5);
    run.sleep_until(16);
    const std::string log = run.log();
    std::printf("%s (%s): 047 at %.1f s, 048 at %.1f s\n", c.name, c.schedule, stopped, back);
    EXPECT_GT(stopped, c.stopped_after);
    EXPECT_LT(stopped, c.stopped_before);
    EXPECT_GT(back, c.back_after);
    EXPECT_LT(back, c.back_before);
    EXPECT_EQ(count_of(log, kStopped), 1) << log;
    EXPECT_EQ(count_of(log, kBack), 1) << log;
    EXPECT_LT(run.close(), 2.0);
    EXPECT_GE(folder.videos().size(), 2u) << "motion recorded again after the return";
    const std::string last = read_file(folder.file("Talvex.log"));
    EXPECT_EQ(count_of(last, "(015)"), 0) << last;  // no pass complained meanwhile
  }
}

// "Capture Video" through a freeze from second 2 to 6: two videos, the first ending at the
// drop-out, the second beginning at the return and running until the close.
TEST(TalvexDropout, ContinuousRecordingAcrossAFreeze) {
  ScopedDropout dropout("2,4");
  VideoFolder folder("dropout_continuous");
  write_config(folder, [](Settings& s) { s.capture_video = true; });
  WatchedRun run(folder);
  ASSERT_NE(run.window(), nullptr);
  EXPECT_GT(run.wait_log(kStopped, 7), 0);
  EXPECT_GT(run.wait_log(kBack, 10), 0);
  run.sleep_until(10);
  EXPECT_LT(run.close(), 2.0);
  EXPECT_EQ(folder.videos().size(), 2u);
}

// A camera that never comes back: said once; a minute of retries every 5 s leaves the
// handles and threads where they were; the close is still quick.
TEST(TalvexDropout, NeverComesBack) {
  ScopedDropout dropout("2,99999,lost");
  VideoFolder folder("dropout_never");
  write_config(folder, [](Settings& s) {
    s.motion_enabled = true;
    s.capture_frames = true;
  });
  WatchedRun run(folder);
  ASSERT_NE(run.window(), nullptr);
  EXPECT_GT(run.wait_log(kStopped, 6), 0);
  run.sleep_until(14);  // two retries in
  const unsigned long handles_before = testing::process_handle_count(run.program().pid());
  const unsigned long threads_before = testing::process_thread_count(run.program().pid());
  run.sleep_until(75);  // twelve more
  const unsigned long handles_after = testing::process_handle_count(run.program().pid());
  const unsigned long threads_after = testing::process_thread_count(run.program().pid());
  // The platform keeps a few handles of every graph build by itself (Wine): measured here,
  // for the twelve retries, in this process.
  ::CoInitialize(nullptr);
  const long platform = testing::platform_rebuild_handles(12);
  ::CoUninitialize();
  std::printf(
      "never back: handles %lu -> %lu (the platform's own share of 12 rebuilds %ld), "
      "threads %lu -> %lu\n",
      handles_before, handles_after, platform, threads_before, threads_after);
  EXPECT_GT(handles_before, 0u);
  EXPECT_LE(static_cast<long>(handles_after), static_cast<long>(handles_before) + platform + 10);
  EXPECT_LE(threads_after, threads_before + 2);
  const std::string log = run.log();
  EXPECT_EQ(count_of(log, kStopped), 1) << log;
  EXPECT_EQ(count_of(log, kBack), 0) << log;
  EXPECT_EQ(count_of(log, "(015)") + count_of(log, "(024)"), 0) << log;  // retries are quiet
  EXPECT_LT(run.close(), 2.0);
}

// The user picks another device while the camera is away: the retries follow the user's
// choice, never the old device.
TEST(TalvexDropout, TheUsersChoiceWins) {
  ScopedDropout dropout("2,6,lost");
  VideoFolder folder("dropout_choice");
  write_config(folder, [](Settings& s) { s.motion_enabled = true; });
  WatchedRun run(folder);
  ASSERT_NE(run.window(), nullptr);
  EXPECT_GT(run.wait_log(kStopped, 6), 0);
  post_command(run.window(), 9010);  // Video Device...
  HWND dialog = wait_dialog("Video Device Configuration", kDefaultTimeout, run.program().pid());
  ASSERT_NE(dialog, nullptr);
  HWND list = ::GetDlgItem(dialog, 202);  // the device list
  const LRESULT still = ::SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>("Talvex Still Camera"));
  ASSERT_NE(still, LB_ERR);
  ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(still), 0);
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
  EXPECT_GT(run.wait_log(kBack, 20), 0);
  run.sleep_until(21);
  EXPECT_EQ(window_text(run.window()), "Talvex Capture <Talvex Still Camera>");
  EXPECT_LT(run.close(), 2.0);
  const std::string cfg = read_file(folder.file("Talvex.cfg"));
  EXPECT_NE(cfg.find("Talvex_Still_Camera"), std::string::npos) << cfg;
}

}  // namespace
}  // namespace talvex::e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new talvex::e2e::Cameras);
  return RUN_ALL_TESTS();
}
