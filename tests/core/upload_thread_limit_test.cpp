// An upload whose thread cannot be started, for real: a child process whose user may run
// no further thread (RLIMIT_NPROC, after giving up root, which the limit does not bind).
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "capture/snapshot_upload.h"

namespace talvex {
namespace {

std::atomic<int> attempts{0};
std::string sent;

int quick_attempt(const UploadJob& job, std::atomic<int>&) {
  sent.assign(job.bytes.begin(), job.bytes.end());
  ++attempts;
  return 54;
}

// The child's checks, as its exit code: 0 when all held.
int upload_without_threads_then_with() {
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) return 10;
  rlimit limit{1, 4096};  // this process alone; raised again below
  if (::setrlimit(RLIMIT_NPROC, &limit) != 0) return 11;
  if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) return 12;
  try {
    std::thread probe([] {});
    probe.join();
    return 13;  // the limit does not bind here: nothing shows
  } catch (const std::system_error&) {
  }
  SnapshotUploader uploader(quick_attempt);
  UploadJob job;
  job.bytes = {'s', 'n', 'a', 'p'};
  // Four failed starts: none may keep a slot of the cap, and the snapshot must wait.
  for (int i = 0; i < kMaxLiveUploadThreads + 1; ++i) {
    uploader.submit(job);
    int result = 0;
    if (uploader.take_finished(result)) return 14;
    if (!uploader.busy()) return 15;
  }
  limit.rlim_cur = 4096;
  if (::setrlimit(RLIMIT_NPROC, &limit) != 0) return 16;
  int result = 0;
  for (int i = 0; i < 500 && !uploader.take_finished(result); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (result != 54 || attempts != 1) return 17;
  return sent == "snap" ? 0 : 18;
}

TEST(SnapshotUploader, AThreadThatCannotStartKeepsTheSnapshotAndGivesItsSlotBack) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give up";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(upload_without_threads_then_with());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 13) GTEST_SKIP() << "RLIMIT_NPROC does not bind in this system";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace talvex
