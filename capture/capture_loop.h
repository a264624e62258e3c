// The capture thread: a pass every 250 ms that grabs a frame into the frame files, makes
// the snapshot, uploads it, looks for motion and starts and stops motion recordings.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/settings.h"

namespace talvex {

// Sleep at the top of every pass.
constexpr int kPassSleepMs = 250;
// What a counting pass adds to a timer; follows the sleep.
constexpr double kPassLengthSeconds = kPassSleepMs * 0.001;
// An upload is attempted once the upload timer has reached this.
constexpr float kUploadThresholdSeconds = 0.75f;

// The work a pass drives, each step returning a message number (54 on success) where it
// can fail. The capture engine provides the real steps; tests script them.
class CaptureSteps {
 public:
  virtual ~CaptureSteps() = default;
  virtual int grab_frame() = 0;
  virtual int write_frame_file(int frame_index) = 0;
  virtual int make_snapshot(int frame_index) = 0;
  virtual int ftp_upload(const char* file_name, const FtpTexts& ftp) = 0;
  virtual bool detect_motion() = 0;
  virtual void start_recording() = 0;
  virtual void stop_recording() = 0;
  virtual void log_message(int number) = 0;
};

// The thread's own state, from its start to its end.
struct LoopState {
  int frame_index = 0;  // frame file this pass writes; 2 is turned into 0 at the next pass
  float upload_timer = 0.0f;
  float recording_timer = 0.0f;
};

// One pass after its sleep. A working pass runs with `graph_lock` held, so the capture
// graph cannot be released or rebuilt under it.
void run_pass(Settings& settings, CaptureSteps& steps, LoopState& state, std::mutex& graph_lock);

class CaptureThread {
 public:
  CaptureThread(Settings& settings, CaptureSteps& steps, std::mutex& graph_lock)
      : settings_(settings), steps_(steps), graph_lock_(graph_lock) {}
  CaptureThread(const CaptureThread&) = delete;
  CaptureThread& operator=(const CaptureThread&) = delete;
  ~CaptureThread() { stop(); }

  // Starts the thread: 54, or 13 when no thread could be created.
  int start();
  // Clears capture_running, cuts the current sleep short and waits until the pass under
  // way has finished and the thread has returned.
  void stop();
  bool running() const { return thread_.joinable(); }

 private:
  void run();
  void sleep_one_period();

  Settings& settings_;
  CaptureSteps& steps_;
  std::mutex& graph_lock_;
  std::mutex wake_lock_;  // pairs with wake_ for the pass sleep
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace talvex
