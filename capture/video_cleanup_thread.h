// The clean-up thread of the video folder. It runs a clean-up at its start, at least once a
// period (a minute) and soon after each ask (before each recording starts, and when the
// disk refused a write), never on the capture thread: a pass never waits for a deletion.
// A save that failed makes its clean-up on its own thread instead (make), one clean-up at
// a time either way. Each clean-up that deleted something is logged once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/recording_stream.h"
#include "capture/video_cleanup.h"

namespace talvex {

class VideoCleanupThread : public RecordingRoom {
 public:
  static constexpr int kOldVideosDeleted = 50;
  // The rules as the settings hold them now (read on the clean-up's thread).
  using Rules = std::function<CleanupRules()>;
  using Log = std::function<void(int number)>;
  // The video folder as it is at a clean-up's start (the user may choose another).
  using Folder = std::function<std::unique_ptr<VideoFolder>()>;

  VideoCleanupThread(Folder folder, Rules rules, Log log,
                     std::chrono::milliseconds period = std::chrono::minutes(1));
  // Ends the thread; a clean-up under way finishes first.
  ~VideoCleanupThread() override;
  VideoCleanupThread(const VideoCleanupThread&) = delete;
  VideoCleanupThread& operator=(const VideoCleanupThread&) = delete;

  void start();
  void stop();

  bool ask() override;
  bool make() override;
  void note_stream_rate(std::uint64_t bytes_per_second) override {
    stream_rate_ = bytes_per_second;
  }

  // Clean-ups run so far, and the videos they deleted.
  std::size_t runs() const { return runs_; }
  std::size_t deleted() const { return deleted_; }

 private:
  void run();
  CleanupReport clean_up();  // one clean-up, under the run lock

  const Folder folder_;
  const Rules rules_;
  const Log log_;
  const std::chrono::milliseconds period_;
  std::atomic<std::uint64_t> stream_rate_{0};
  std::atomic<std::size_t> runs_{0}, deleted_{0};

  std::mutex run_lock_;  // one clean-up at a time, of the thread or of a failed save

  std::mutex wake_lock_;  // guards asked_ and stopping_
  std::condition_variable wake_;
  bool asked_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace talvex
