#include "capture/snapshot_upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/test_support.h"

namespace talvex {
namespace {

TEST(SnapshotFile, ReadWholeOrRefused) {
  testing::ScratchDirectory dir;
  std::vector<char> bytes;
  EXPECT_EQ(read_snapshot_file("Talvex.jpg", bytes), 41);
  testing::write_bytes("Talvex.jpg", "");
  EXPECT_EQ(read_snapshot_file("Talvex.jpg", bytes), 42);
  std::string jpeg(40000, '\0');
  for (std::size_t i = 0; i < jpeg.size(); ++i) jpeg[i] = static_cast<char>(i * 7);
  testing::write_bytes("Talvex.jpg", jpeg);
  EXPECT_EQ(read_snapshot_file("Talvex.jpg", bytes), 54);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), jpeg);
  // A file far larger than any snapshot (sparse: nothing is written to make it) is refused
  // before it is read whole.
  std::filesystem::resize_file("Talvex.jpg", 3ull << 30);
  EXPECT_EQ(read_snapshot_file("Talvex.jpg", bytes), 42);
  EXPECT_TRUE(bytes.empty());
}

// Attempts that block until the test lets them go, as a stalled server holds WinInet.
struct Gate {
  std::mutex gate_lock;  // guards open, started and returned
  std::condition_variable changed;
  bool open = false;
  std::vector<std::string> started;
  std::size_t returned = 0;

  void let_go() {
    {
      std::lock_guard<std::mutex> lock(gate_lock);
      open = true;
    }
    changed.notify_all();
  }
  // Every attempt that entered has left: nothing touches the gate any more.
  bool all_returned() {
    std::unique_lock<std::mutex> lock(gate_lock);
    return changed.wait_for(lock, std::chrono::seconds(10),
                            [this] { return returned == started.size(); });
  }
};
Gate* gate = nullptr;

int blocking_attempt(const UploadJob& job, std::atomic<int>& failure) {
  failure = 40;  // as far as the remote file's opening
  std::unique_lock<std::mutex> lock(gate->gate_lock);
  gate->started.push_back(std::string(job.bytes.begin(), job.bytes.end()));
  gate->changed.notify_all();
  gate->changed.wait(lock, [] { return gate->open; });
  ++gate->returned;
  gate->changed.notify_all();  // under the lock: the gate may go as soon as it is released
  return 54;
}

template <typename Condition>
bool testing_wait(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

UploadJob job(const char* text) {
  UploadJob j;
  j.bytes.assign(text, text + std::char_traits<char>::length(text));
  return j;
}

TEST(SnapshotUploader, AStalledAttemptIsAbandonedAndTheNewestSnapshotGoesNext) {
  Gate g;
  gate = &g;
  {
    SnapshotUploader uploader(blocking_attempt, std::chrono::milliseconds(200));
    uploader.submit(job("first"));
    uploader.submit(job("second"));
    uploader.submit(job("third"));  // replaces the second: never queued twice
    int result = 0;
    EXPECT_FALSE(uploader.take_finished(result));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Past the deadline: the number of the phase it was in, and the kept one starts.
    ASSERT_TRUE(uploader.take_finished(result));
    EXPECT_EQ(result, 40);
    {
      std::unique_lock<std::mutex> lock(g.gate_lock);
      g.changed.wait_for(lock, std::chrono::seconds(5), [&] { return g.started.size() == 2; });
      EXPECT_EQ(g.started, (std::vector<std::string>{"first", "third"}));
    }
    g.let_go();
    ASSERT_TRUE(testing_wait([&] { return uploader.take_finished(result); }));
    EXPECT_EQ(result, 54);
    EXPECT_FALSE(uploader.busy());
  }
  // The abandoned attempt ends on its own thread, after its uploader is gone.
  EXPECT_TRUE(g.all_returned());
  gate = nullptr;
}

// Attempts abandoned at their deadline still run; past four of them no fifth thread is
// started, and the snapshot waits (the newest one) until one of them has returned.
TEST(SnapshotUploader, AtMostFourUnreturnedAttemptsThenTheNewestWaits) {
  Gate g;
  gate = &g;
  {
    SnapshotUploader uploader(blocking_attempt, std::chrono::milliseconds(50));
    int result = 0;
    for (const char* name : {"a", "b", "c", "d"}) {
      uploader.submit(job(name));
      std::this_thread::sleep_for(std::chrono::milliseconds(80));
      ASSERT_TRUE(uploader.take_finished(result)) << name;  // abandoned at its deadline
      EXPECT_EQ(result, 40);
    }
    uploader.submit(job("e"));
    uploader.submit(job("f"));  // the newest waits, "e" never goes
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_FALSE(uploader.take_finished(result));
    EXPECT_TRUE(uploader.busy());
    {
      std::lock_guard<std::mutex> lock(g.gate_lock);
      EXPECT_EQ(g.started, (std::vector<std::string>{"a", "b", "c", "d"}));
    }
    g.let_go();
    ASSERT_TRUE(testing_wait([&] {
      uploader.take_finished(result);
      std::lock_guard<std::mutex> lock(g.gate_lock);
      return g.started.size() == 5;
    }));
    ASSERT_TRUE(testing_wait([&] { return !uploader.busy() || uploader.take_finished(result); }));
    std::lock_guard<std::mutex> lock(g.gate_lock);
    EXPECT_EQ(g.started.back(), "f");
  }
  EXPECT_TRUE(g.all_returned());
  gate = nullptr;
}

// Attempts that finish in any order: the renames onto the name never overlap, and the name
// only ever moves on to a newer snapshot; an older one that comes later gives way.
TEST(RemoteNameTurns, RenamesOneAtATimeAndOnlyEverForward) {
  RemoteNameTurns& turns = remote_name_turns();
  std::vector<std::uint64_t> sequences;
  for (int i = 0; i < 16; ++i) sequences.push_back(turns.next_sequence());
  std::atomic<int> renaming{0};
  std::atomic<bool> overlapped{false};
  std::mutex order_lock;  // guards placed
  std::vector<std::uint64_t> placed;
  std::vector<std::thread> attempts;
  // Started in a mixed order; every third rename is refused by its "server" and must not
  // count as placed.
  std::vector<std::size_t> order(sequences.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = (i * 7) % order.size();
  for (std::size_t i : order) {
    attempts.emplace_back([&, i] {
      turns.take_turn(sequences[i], [&] {
        if (renaming.fetch_add(1) != 0) overlapped = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const bool took = i % 3 != 1;
        if (took) {
          std::lock_guard<std::mutex> lock(order_lock);
          placed.push_back(sequences[i]);
        }
        renaming.fetch_sub(1);
        return took;
      });
    });
  }
  for (std::thread& t : attempts) t.join();
  EXPECT_FALSE(overlapped);
  ASSERT_FALSE(placed.empty());
  EXPECT_TRUE(std::is_sorted(placed.begin(), placed.end()));
  // The newest that the server took (the last, 15) holds the name; older ones give way.
  EXPECT_EQ(placed.back(), sequences[15]);
  bool ran = false;
  EXPECT_EQ(turns.take_turn(sequences[14], [&] { return ran = true; }),
            RemoteNameTurns::Turn::kOvertaken);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(turns.overtaken(sequences[0]));
}

// Staging names are never shared by two live attempts, and a returned number is reused.
TEST(RemoteNameTurns, StagingNumbersAreOwnedOnce) {
  std::vector<int> held;
  {
    StagingNumber a, b, c;
    held = {a.get(), b.get(), c.get()};
    std::sort(held.begin(), held.end());
    EXPECT_EQ(std::adjacent_find(held.begin(), held.end()), held.end());
  }
  StagingNumber again;
  EXPECT_EQ(again.get(), held.front());
}

}  // namespace
}  // namespace talvex
