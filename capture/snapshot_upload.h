// The snapshot's way to the FTP server, off the capture thread: every attempt runs on a
// thread of its own that owns each handle it opens, and whoever handed the snapshot over
// never waits longer than one deadline for it. A server that stalls costs an abandoned
// attempt, never a pass, a frame file or the window.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/settings.h"

namespace talvex {

// How long one attempt may take, from the session's opening to the remote file's close.
constexpr std::chrono::milliseconds kUploadDeadline{10000};
// Attempts abandoned at their deadline whose threads have not returned yet, at most; past
// that the snapshot waits (a server that stalls every attempt never piles up threads).
constexpr int kMaxLiveUploadThreads = 4;

// What one attempt sends: the bytes of a snapshot, or the named file read as it goes.
struct UploadJob {
  std::vector<char> bytes;
  std::string local_file;  // empty: send `bytes`
  FtpTexts ftp;
  // Given by the uploader as the attempt starts: a later attempt has a higher number.
  std::uint64_t sequence = 0;
};

// One attempt on the platform: 54, or 38 to 43. Before each phase it stores in `failure`
// the number an attempt abandoned during that phase has failed with.
using UploadAttemptFunction = int (*)(const UploadJob& job, std::atomic<int>& failure);

// Upload attempts, one at a time, handed over by one thread (the capture thread).
class SnapshotUploader {
 public:
  explicit SnapshotUploader(UploadAttemptFunction attempt,
                            std::chrono::milliseconds deadline = kUploadDeadline);
  ~SnapshotUploader();  // abandons an attempt in flight; never waits for it
  SnapshotUploader(const SnapshotUploader&) = delete;
  SnapshotUploader& operator=(const SnapshotUploader&) = delete;

  // Starts an attempt for the job, or, while one runs, keeps the job as the next one in
  // place of any job kept before: the newest snapshot goes next, none goes twice.
  void submit(UploadJob job);
  // The result of an attempt that ended or passed its deadline (then the number of the
  // phase it was in) since the last call; starts the kept job then. False when none.
  bool take_finished(int& result);
  // Waits for the attempt in flight (starting the kept job first, whatever attempts still
  // run): its result, or at the deadline the number of the phase it was in. 38 when no
  // attempt could be started.
  int wait();
  bool busy() const { return static_cast<bool>(current_) || has_next_; }

  struct Attempt;  // shared by an attempt's thread and the uploader

 private:
  // `capped`: not while kMaxLiveUploadThreads attempt threads still run.
  bool start(UploadJob& job, bool capped);

  UploadAttemptFunction attempt_;
  std::chrono::milliseconds deadline_;
  std::shared_ptr<Attempt> current_;
  std::chrono::steady_clock::time_point current_deadline_{};
  UploadJob next_;
  bool has_next_ = false;
};

// The remote name's turns, for the whole process. An attempt stores its snapshot under a
// staging name of its own beside the remote name and then renames it onto that name; the
// renames go one at a time, and an attempt whose snapshot is older than the one already
// under the name gives way, so that the server never goes back to an older snapshot however
// late an abandoned attempt finishes.
class RemoteNameTurns {
 public:
  enum class Turn { kPlaced, kRefused, kOvertaken };

  // The number of an attempt that starts now.
  std::uint64_t next_sequence() { return ++sequence_; }
  // Runs `rename` (true when the snapshot went under the remote name) while no other
  // attempt renames, unless a later attempt's snapshot is there already: kOvertaken then,
  // and `rename` does not run. The turn is held for a few commands on one connection, each
  // bounded by the connection's own waits; only attempt threads ever wait for it.
  Turn take_turn(std::uint64_t sequence, const std::function<bool()>& rename);
  // For a store straight under the remote name: whether a later attempt's snapshot is
  // there already, and the note that this one now is.
  bool overtaken(std::uint64_t sequence);
  void placed(std::uint64_t sequence);

  // The lowest staging number that no unreturned attempt holds, and its return.
  int take_staging_number();
  void give_back_staging_number(int number);

  // Servers (the server, port, user and remote name as one text) that took a store under
  // the remote name but refused the rename onto it: their attempts store there directly.
  bool stores_directly(const std::string& target);
  void store_directly(const std::string& target);

 private:
  std::atomic<std::uint64_t> sequence_{0};
  // The number of the newest snapshot under the remote name; raised only.
  std::atomic<std::uint64_t> newest_placed_{0};
  std::mutex turn_lock;     // one rename onto the remote name at a time
  std::mutex staging_lock;  // guards staging_taken_
  std::vector<bool> staging_taken_;
  std::mutex direct_lock;  // guards direct_targets_
  std::vector<std::string> direct_targets_;
};
RemoteNameTurns& remote_name_turns();

// A staging number held for as long as one attempt lives.
class StagingNumber {
 public:
  StagingNumber() : number_(remote_name_turns().take_staging_number()) {}
  ~StagingNumber() { remote_name_turns().give_back_staging_number(number_); }
  StagingNumber(const StagingNumber&) = delete;
  StagingNumber& operator=(const StagingNumber&) = delete;
  int get() const { return number_; }

 private:
  int number_;
};

// Attempt threads, of every uploader, that have not returned yet: abandoned ones included.
int unreturned_upload_attempts();

// Reads the snapshot file that an upload sends: 54, 41 when it can't be opened for
// reading and writing, 42 when it holds nothing or far more than any snapshot (16 MiB).
// `bytes` keeps its capacity.
int read_snapshot_file(const char* file_name, std::vector<char>& bytes);

// The platform's attempt (ftp_upload_win.cpp).
int ftp_upload_attempt(const UploadJob& job, std::atomic<int>& failure);

}  // namespace talvex
