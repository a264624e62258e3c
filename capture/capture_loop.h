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
// can fail. The capture engine provides the real steps; tests script them. None of them
// waits for the network, for the window or for a graph call.
class CaptureSteps {
 public:
  virtual ~CaptureSteps() = default;
  // On the capture thread, before its first pass and after its last.
  virtual void thread_started() {}
  virtual void thread_ending() {}
  // False while the camera sends no frames: a pass then only sleeps, as an idle one does,
  // rather than write frame files and snapshots that would repeat the last picture.
  virtual bool frames_flowing() { return true; }
  virtual int grab_frame() = 0;
  virtual int write_frame_file(int frame_index) = 0;
  virtual int make_snapshot(int frame_index) = 0;
  // Hands the snapshot file to the upload thread: 54, or the failure of an attempt that
  // could not even begin (41, 42).
  virtual int start_upload(const char* file_name, const FtpTexts& ftp) = 0;
  // The result of an upload attempt that ended since the last call; false when none.
  virtual bool finished_upload(int& result) = 0;
  virtual bool detect_motion() = 0;
  // Asks the user-interface thread, which owns the capture graph, to start or stop the
  // motion recording; never waits for it.
  virtual void request_recording_start() = 0;
  virtual void request_recording_stop() = 0;
  virtual void log_message(int number) = 0;
};

// The thread's own state, from its start to its end.
struct LoopState {
  int frame_index = 0;  // frame file this pass writes; 2 is turned into 0 at the next pass
  float upload_timer = 0.0f;
  float recording_timer = 0.0f;
};

// One pass after its sleep.
void run_pass(Settings& settings, CaptureSteps& steps, LoopState& state);

class CaptureThread {
 public:
  CaptureThread(Settings& settings, CaptureSteps& steps) : settings_(settings), steps_(steps) {}
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
  std::mutex wake_lock_;  // pairs with wake_ for the pass sleep
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace talvex
