#include "capture/video_cleanup_thread.h"

#include <algorithm>

namespace talvex {
namespace {

// Asks while the disk refuses every write come with each frame; a clean-up that found
// nothing to delete is not run again sooner than this.
constexpr auto kAskedSpacing = std::chrono::seconds(1);

}  // namespace

VideoCleanupThread::VideoCleanupThread(Folder folder, Rules rules, Log log,
                                       std::chrono::milliseconds period)
    : folder_(std::move(folder)), rules_(std::move(rules)), log_(std::move(log)), period_(period) {}

VideoCleanupThread::~VideoCleanupThread() { stop(); }

void VideoCleanupThread::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(wake_lock_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { run(); });
}

void VideoCleanupThread::stop() {
  {
    std::lock_guard lock(wake_lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool VideoCleanupThread::ask() {
  const CleanupRules rules = rules_();
  if (rules.keep_free_mb <= 0) return false;
  {
    std::lock_guard lock(wake_lock_);
    asked_ = true;
  }
  wake_.notify_all();
  return true;
}

bool VideoCleanupThread::make() { return clean_up().deleted > 0; }

CleanupReport VideoCleanupThread::clean_up() {
  std::lock_guard lock(run_lock_);
  CleanupRules rules = rules_();
  rules.stream_rate = stream_rate_;
  CleanupReport report;
  if (rules.keep_free_mb > 0 || rules.max_age_days > 0) {
    if (const std::unique_ptr<VideoFolder> folder = folder_()) {
      report = clean_up_videos(*folder, rules, system_calls().local_time());
    }
  }
  ++runs_;
  deleted_ += report.deleted;
  if (report.deleted > 0 && log_) log_(kOldVideosDeleted);
  return report;
}

void VideoCleanupThread::run() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point last = Clock::now() - period_;  // the first clean-up at once
  bool last_deleted = true;
  std::unique_lock lock(wake_lock_);
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = last + period_;
    // An ask right after a clean-up that deleted nothing waits out the spacing.
    if (asked_) next = std::min(next, last_deleted ? now : last + kAskedSpacing);
    if (now < next) {
      wake_.wait_until(lock, next);
      continue;
    }
    asked_ = false;
    lock.unlock();
    last_deleted = clean_up().deleted > 0;
    last = Clock::now();
    lock.lock();
  }
}

}  // namespace talvex
