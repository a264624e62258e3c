#include "capture/snapshot_upload.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "app/talvex_messages.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr std::size_t kReadPiece = 16384;
// Far above any 240 x 180 snapshot: a larger file there is not ours and is not read whole.
constexpr std::size_t kLargestSnapshot = 16u << 20;

// Attempt threads that have not returned yet, abandoned ones included.
std::atomic<int> live_upload_threads{0};

}  // namespace

struct SnapshotUploader::Attempt {
  std::mutex attempt_lock;  // guards finished and result
  std::condition_variable finished_changed;
  bool finished = false;
  int result = msg::kFtpNoSession;
  std::atomic<int> failure{msg::kFtpNoSession};
};

SnapshotUploader::SnapshotUploader(UploadAttemptFunction attempt,
                                   std::chrono::milliseconds deadline)
    : attempt_(attempt), deadline_(deadline) {}

SnapshotUploader::~SnapshotUploader() = default;

bool SnapshotUploader::start(UploadJob& job, bool capped) {
  if (capped && live_upload_threads.load() >= kMaxLiveUploadThreads) return false;
  std::shared_ptr<Attempt> attempt;
  std::shared_ptr<UploadJob> owned;
  try {
    attempt = std::make_shared<Attempt>();
    owned = std::make_shared<UploadJob>(std::move(job));  // moved only once allocated
  } catch (const std::bad_alloc&) {
    return false;
  }
  owned->sequence = remote_name_turns().next_sequence();
  ++live_upload_threads;
  try {
    // The thread owns its job and every handle it opens; the uploader keeps only the
    // shared result, so an abandoned attempt touches nothing its owner let go of.
    std::thread([attempt, function = attempt_, owned]() {
      int result = msg::kFtpNoSession;
      try {
        result = function(*owned, attempt->failure);
      } catch (const std::bad_alloc&) {
        result = msg::kFtpNoSession;
      }
      {
        std::lock_guard<std::mutex> lock(attempt->attempt_lock);
        attempt->result = result;
        attempt->finished = true;
      }
      attempt->finished_changed.notify_all();
      --live_upload_threads;
    }).detach();
  } catch (...) {
    // No thread (system_error, bad_alloc): the slot is given back and the job stays the
    // caller's, to be tried again.
    --live_upload_threads;
    job = std::move(*owned);
    return false;
  }
  current_ = std::move(attempt);
  current_deadline_ = std::chrono::steady_clock::now() + deadline_;
  return true;
}

void SnapshotUploader::submit(UploadJob job) {
  if (!current_ && !has_next_ && start(job, true)) return;
  next_ = std::move(job);
  has_next_ = true;
}

bool SnapshotUploader::take_finished(int& result) {
  bool ended = false;
  if (current_) {
    std::unique_lock<std::mutex> lock(current_->attempt_lock);
    if (current_->finished) {
      result = current_->result;
      ended = true;
    } else if (std::chrono::steady_clock::now() >= current_deadline_) {
      result = current_->failure.load();
      ended = true;
    }
    lock.unlock();
    if (ended) current_.reset();
  }
  if (!current_ && has_next_ && start(next_, true)) has_next_ = false;
  return ended;
}

int SnapshotUploader::wait() {
  // One attempt waited for is not held back by attempts abandoned before it.
  if (!current_ && has_next_ && start(next_, false)) has_next_ = false;
  if (!current_) return msg::kFtpNoSession;
  std::shared_ptr<Attempt> attempt = std::move(current_);
  std::unique_lock<std::mutex> lock(attempt->attempt_lock);
  if (attempt->finished_changed.wait_until(lock, current_deadline_,
                                           [&attempt] { return attempt->finished; })) {
    return attempt->result;
  }
  return attempt->failure.load();
}

RemoteNameTurns::Turn RemoteNameTurns::take_turn(std::uint64_t sequence,
                                                 const std::function<bool()>& rename) {
  std::lock_guard<std::mutex> turn(turn_lock);
  if (newest_placed_.load() > sequence) return Turn::kOvertaken;
  if (!rename()) return Turn::kRefused;
  placed(sequence);
  return Turn::kPlaced;
}

bool RemoteNameTurns::overtaken(std::uint64_t sequence) { return newest_placed_.load() > sequence; }

void RemoteNameTurns::placed(std::uint64_t sequence) {
  std::uint64_t newest = newest_placed_.load();
  while (newest < sequence && !newest_placed_.compare_exchange_weak(newest, sequence)) {
  }
}

int RemoteNameTurns::take_staging_number() {
  std::lock_guard<std::mutex> lock(staging_lock);
  const auto free = std::find(staging_taken_.begin(), staging_taken_.end(), false);
  const int number = static_cast<int>(free - staging_taken_.begin());
  if (free == staging_taken_.end()) {
    staging_taken_.push_back(true);
  } else {
    *free = true;
  }
  return number;
}

void RemoteNameTurns::give_back_staging_number(int number) {
  std::lock_guard<std::mutex> lock(staging_lock);
  staging_taken_[static_cast<std::size_t>(number)] = false;
}

bool RemoteNameTurns::stores_directly(const std::string& target) {
  std::lock_guard<std::mutex> lock(direct_lock);
  return std::find(direct_targets_.begin(), direct_targets_.end(), target) != direct_targets_.end();
}

void RemoteNameTurns::store_directly(const std::string& target) {
  std::lock_guard<std::mutex> lock(direct_lock);
  if (std::find(direct_targets_.begin(), direct_targets_.end(), target) == direct_targets_.end()) {
    direct_targets_.push_back(target);
  }
}

RemoteNameTurns& remote_name_turns() {
  // Never destroyed: an abandoned attempt may still take its turn while the process ends.
  static RemoteNameTurns* const turns = new RemoteNameTurns;
  return *turns;
}

int unreturned_upload_attempts() { return live_upload_threads.load(); }

int read_snapshot_file(const char* file_name, std::vector<char>& bytes) {
  bytes.clear();
  const SystemCalls& sys = system_calls();
  ScopedFile file(sys.open_file(file_name, "r+b"));
  if (!file) return msg::kFtpNoLocalFile;
  try {
    for (;;) {
      const std::size_t had = bytes.size();
      bytes.resize(had + kReadPiece);
      const std::size_t read = std::fread(bytes.data() + had, 1, kReadPiece, file.get());
      bytes.resize(had + read);
      if (read < kReadPiece) break;
      if (bytes.size() >= kLargestSnapshot) {
        bytes.clear();
        return msg::kFtpNothingRead;
      }
    }
  } catch (const std::bad_alloc&) {
    bytes.clear();
    return msg::kFtpNoLocalFile;
  }
  return bytes.empty() ? msg::kFtpNothingRead : msg::kOk;
}

}  // namespace talvex
