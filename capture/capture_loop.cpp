#include "capture/capture_loop.h"

#include <chrono>
#include <new>
#include <system_error>

#include "app/talvex_messages.h"
#include "capture/working_files.h"

namespace talvex {
namespace {

// Steps 4 to 8: the frame work of a working pass. A failure skips the rest of it.
void frame_work(Settings& settings, CaptureSteps& steps, LoopState& state) {
  if (steps.grab_frame() != msg::kOk) {
    steps.log_message(msg::kSampleFrameFailed);
    return;
  }
  if (steps.write_frame_file(state.frame_index) != msg::kOk) {
    steps.log_message(msg::kBmpFileFailed);
    return;
  }
  // Motion detection alone needs only the frame files.
  if (!settings.capture_frames) return;
  if (steps.make_snapshot(state.frame_index) != msg::kOk) {
    steps.log_message(msg::kJpgFileFailed);
    return;
  }
  // Attempts that ended since the last snapshot pass: a failure is logged once and the
  // timer stays reached, so this pass tries again.
  int finished = msg::kOk;
  while (steps.finished_upload(finished)) {
    if (finished == msg::kOk) continue;
    steps.log_message(finished);
    if (settings.ftp_enabled) state.upload_timer = kUploadThresholdSeconds;
  }
  if (!settings.ftp_enabled) return;
  if (state.upload_timer >= kUploadThresholdSeconds) {
    const int result = steps.start_upload(kSnapshotFileName, settings.ftp());
    if (result == msg::kOk) {
      // Counted from the hand-over; a failure puts the timer back at the threshold.
      state.upload_timer = 0.0f;
    } else {
      steps.log_message(result);
    }
  } else {
    state.upload_timer += kPassLengthSeconds;
  }
}

}  // namespace

void run_pass(Settings& settings, CaptureSteps& steps, LoopState& state) {
  if (state.frame_index == 2) state.frame_index = 0;
  if (!settings.capture_frames && !settings.motion_enabled) return;
  if (!steps.frames_flowing()) return;

  frame_work(settings, steps, state);

  // The index advances even after a failed grab or write, so the files keep alternating.
  ++state.frame_index;

  if (settings.motion_enabled && !settings.motion_recording && state.frame_index == 2) {
    if (steps.detect_motion()) {
      settings.motion_recording = true;
      state.recording_timer = 0.0f;
      steps.request_recording_start();
    }
  } else if (settings.motion_recording) {
    if (static_cast<float>(settings.motion_duration) > state.recording_timer) {
      state.recording_timer += kPassLengthSeconds;
    } else if (settings.motion_recording.exchange(false)) {
      // Whoever clears the flag stops the recording, so a dialog clearing it at the same
      // moment never stops it twice.
      steps.request_recording_stop();
    }
  }
}

int CaptureThread::start() {
  if (thread_.joinable()) return msg::kOk;
  try {
    thread_ = std::thread(&CaptureThread::run, this);
  } catch (const std::system_error&) {
    return msg::kThreadStartFailed;
  }
  return msg::kOk;
}

void CaptureThread::stop() {
  {
    std::lock_guard<std::mutex> lock(wake_lock_);
    settings_.capture_running = false;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CaptureThread::sleep_one_period() {
  std::unique_lock<std::mutex> lock(wake_lock_);
  wake_.wait_for(lock, std::chrono::milliseconds(kPassSleepMs),
                 [this] { return !settings_.capture_running; });
}

void CaptureThread::run() {
  steps_.thread_started();
  LoopState state;
  while (settings_.capture_running) {
    sleep_one_period();
    try {
      run_pass(settings_, steps_, state);
    } catch (const std::bad_alloc&) {
      // Memory ran short for this pass's frame work: a failed pass, not the program's end.
      steps_.log_message(msg::kSampleFrameFailed);
    }
  }
  steps_.thread_ending();
}

}  // namespace talvex
