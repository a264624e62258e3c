// A console run of the capture program's core until the windowed program exists: reads
// "Talvex.cfg", enters the video folder, opens the log and runs the capture thread for a
// few seconds. No video device is attached yet, so every working pass logs 015.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/log.h"
#include "app/settings.h"
#include "app/talvex_messages.h"
#include "capture/capture_loop.h"
#include "common/system_calls.h"

namespace {

class NoDeviceSteps : public talvex::CaptureSteps {
 public:
  int grab_frame() override { return talvex::msg::kGrabberFailed; }
  int write_frame_file(int) override { return talvex::msg::kBmpFileFailed; }
  int make_snapshot(int) override { return talvex::msg::kJpgFileFailed; }
  int start_upload(const char*, const talvex::FtpTexts&) override {
    return talvex::msg::kFtpNoSession;
  }
  bool finished_upload(int&) override { return false; }
  bool detect_motion() override { return false; }
  void request_recording_start() override {}
  void request_recording_stop() override {}
  void log_message(int number) override { talvex::log_message(number); }
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 2;
  talvex::Settings settings;
  settings.video_folder = talvex::system_calls().current_directory(99);
  int events_result = talvex::msg::kOk;
  const int read_result = talvex::read_settings(settings, &events_result);
  const bool entered = talvex::enter_folder(settings.video_folder.c_str());
  talvex::ProgramLog run_log;
  talvex::log_open("Talvex.log");
  if (read_result != talvex::msg::kOk) talvex::log_message(read_result);
  if (events_result != talvex::msg::kOk) talvex::log_message(events_result);
  if (!entered) {
    settings.video_folder = talvex::system_calls().current_directory(99);
    talvex::log_message(talvex::msg::kConfigFolderFailed);
  }

  NoDeviceSteps steps;
  talvex::CaptureThread thread(settings, steps);
  if (const int started = thread.start(); started != talvex::msg::kOk) {
    talvex::log_message(started);
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  // As the window's destruction does: save first, then quiet and stop the thread.
  if (const int saved = talvex::write_settings(settings); saved != talvex::msg::kOk) {
    talvex::log_message(saved);
  }
  settings.capture_frames = false;
  settings.motion_enabled = false;
  thread.stop();
  talvex::log_close();
  std::printf("ran %d s in %s\n", seconds, settings.video_folder.c_str());
  return 0;
}
