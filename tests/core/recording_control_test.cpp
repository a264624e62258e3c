#include "capture/recording_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "app/talvex_messages.h"
#include "capture/capture_loop.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

// A graph with a recorder; the recordings it began and finished are counted.
class CountingGraph : public RecordingGraph {
 public:
  CountingGraph() {
    RecordingFormat f;
    f.major_type = kMediaTypeVideo;
    f.format_type = kFormatVideoInfo;
    f.frame_period = 666666;
    f.format.assign(88, 0);
    f.format[48] = 40;   // biSize
    f.format[52] = 160;  // biWidth
    f.format[56] = 120;  // biHeight
    f.format[62] = 24;   // biBitCount
    stream.set_format(f);
  }
  bool has_device() const override { return true; }
  RecordingStream* recording_stream() override { return &stream; }
  int started() const { return static_cast<int>(stream.starts()); }
  int finished() const { return static_cast<int>(stream.stops()); }
  RecordingStream stream;
};

class RecordingControlTest : public ::testing::Test {
 protected:
  RecordingControlTest() { settings_.motion_enabled = true; }
  // What the capture thread does on motion: set the flag, then ask.
  unsigned detect() {
    settings_.motion_recording = true;
    return control_.generation();
  }
  testing::ScratchDirectory dir_;
  Settings settings_;
  Recorder recorder_;
  RecordingControl control_{settings_, recorder_};
  CountingGraph graph_;
};

TEST_F(RecordingControlTest, RequestsAreTakenOnlyWhileCurrent) {
  // A start and its stop, in order.
  unsigned g = detect();
  control_.request_start(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kMotion);
  settings_.motion_recording = false;
  control_.request_stop(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kNone);
  EXPECT_EQ(graph_.started(), 1);
  EXPECT_EQ(graph_.finished(), 1);

  // A rebuild between the request and its handling: dropped, and the flag it left is
  // cleared so detection goes on.
  g = detect();
  control_.new_generation();
  control_.request_start(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kNone);
  EXPECT_FALSE(settings_.motion_recording);

  // Motion detection turned off after the flag was set: dropped.
  g = detect();
  settings_.motion_enabled = false;
  control_.request_start(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kNone);
  EXPECT_FALSE(settings_.motion_recording);
  settings_.motion_enabled = true;

  // A dialog cleared the flag (and stopped nothing, as nothing ran yet): dropped.
  g = detect();
  settings_.motion_recording = false;
  control_.request_start(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kNone);

  // During a rebuild requests are dropped even when current.
  g = detect();
  control_.set_rebuilding(true);
  control_.request_start(graph_, g);
  control_.set_rebuilding(false);
  EXPECT_EQ(control_.running(), RecordingKind::kNone);
  EXPECT_EQ(graph_.started(), 1);
}

TEST_F(RecordingControlTest, AStopOnlyEndsTheRecordingItsStartBegan) {
  unsigned g = detect();
  control_.request_start(graph_, g);
  // The capture thread's stop is on its way when a dialog starts continuous recording:
  // the motion recording is finished first, and the late stop leaves the new one alone.
  settings_.motion_recording = false;
  control_.new_generation();
  control_.start(graph_, RecordingKind::kContinuous);
  control_.request_stop(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kContinuous);
  EXPECT_EQ(graph_.finished(), 1);
  // A start while the continuous recording runs leaves it running and the flag cleared.
  g = detect();
  control_.request_start(graph_, g);
  EXPECT_EQ(control_.running(), RecordingKind::kContinuous);
  EXPECT_FALSE(settings_.motion_recording);
  control_.stop(graph_);
  control_.stop(graph_);  // nothing runs: nothing is finished twice
  EXPECT_EQ(graph_.started(), 2);
  EXPECT_EQ(graph_.finished(), 2);
}

// The capture thread detects motion on every pair of passes while the user-interface
// thread handles its requests and, many times, clears and restores the motion flags as
// the dialogs and rebuilds do. However they interleave, once motion detection is off and
// the requests are handled no recording is left running, and each one began was finished.
TEST(RecordingControlRace, FlagClearsNeverLeaveARecordingNobodyStops) {
  testing::ScratchDirectory dir;
  Settings settings;
  settings.motion_enabled = true;
  settings.motion_duration = 0;
  Recorder recorder;
  RecordingControl control(settings, recorder);
  CountingGraph graph;

  std::mutex queue_lock;  // guards queue
  std::condition_variable queue_changed;
  std::deque<std::pair<bool, unsigned>> queue;

  class RequestingSteps : public CaptureSteps {
   public:
    RequestingSteps(RecordingControl& c, std::mutex& l, std::condition_variable& cv,
                    std::deque<std::pair<bool, unsigned>>& q)
        : control(c), lock(l), changed(cv), queue(q) {}
    int grab_frame() override { return msg::kOk; }
    int write_frame_file(int) override { return msg::kOk; }
    int make_snapshot(int) override { return msg::kOk; }
    int start_upload(const char*, const FtpTexts&) override { return msg::kOk; }
    bool finished_upload(int&) override { return false; }
    // The measure takes its time, as reading two frame files does: a flag change can land
    // between the pass's look at the flags and its request.
    bool detect_motion() override {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      return true;
    }
    void request_recording_start() override {
      generation = control.generation();
      post(true);
    }
    void request_recording_stop() override { post(false); }
    void log_message(int) override {}
    void post(bool start) {
      {
        std::lock_guard<std::mutex> guard(lock);
        queue.emplace_back(start, generation);
      }
      changed.notify_all();
    }
    RecordingControl& control;
    std::mutex& lock;
    std::condition_variable& changed;
    std::deque<std::pair<bool, unsigned>>& queue;
    unsigned generation = 0;
  } steps(control, queue_lock, queue_changed, queue);

  auto handle_one = [&](bool wait) {
    std::unique_lock<std::mutex> guard(queue_lock);
    if (wait)
      queue_changed.wait_for(guard, std::chrono::milliseconds(1), [&] { return !queue.empty(); });
    if (queue.empty()) return false;
    const auto request = queue.front();
    queue.pop_front();
    guard.unlock();
    if (request.first) {
      control.request_start(graph, request.second);
    } else {
      control.request_stop(graph, request.second);
    }
    return true;
  };
  // What the Motion dialog's OK without "Enabled" does, and a rebuild's pause.
  auto motion_off = [&] {
    if (settings.motion_enabled.exchange(false) && settings.motion_recording.exchange(false)) {
      control.new_generation();
      control.stop(graph);
    }
  };
  auto rebuild = [&] {
    control.new_generation();
    control.set_rebuilding(true);
    const bool was_on = settings.motion_enabled;
    settings.motion_enabled = false;
    settings.motion_recording = false;
    control.stop(graph);
    handle_one(false);  // a request dispatched while the graph is rebuilt
    control.set_rebuilding(false);
    control.new_generation();
    settings.motion_enabled = was_on;
  };

  std::mt19937 random(12345);
  for (int storm = 0; storm < 30; ++storm) {
    settings.motion_enabled = true;
    std::atomic<bool> passes_on{true};
    std::thread capture([&] {
      LoopState state;
      while (passes_on) {
        run_pass(settings, steps, state);
        std::this_thread::yield();
      }
    });
    for (int round = 0; round < 100; ++round) {
      for (int i = static_cast<int>(random() % 8); i > 0; --i) handle_one(true);
      switch (random() % 6) {
        case 0:
          motion_off();
          break;
        case 1:
          rebuild();
          break;
        default:
          break;
      }
      for (int i = static_cast<int>(random() % 3); i > 0; --i) handle_one(true);
      settings.motion_enabled = true;
    }
    // The last word is the user's: motion detection off, with requests still on their way.
    for (int i = static_cast<int>(random() % 3); i > 0; --i) handle_one(true);
    motion_off();
    passes_on = false;
    capture.join();
    while (handle_one(false)) {
    }
    EXPECT_EQ(control.running(), RecordingKind::kNone) << storm;
    control.stop(graph);
  }
  EXPECT_GT(graph.started(), 10);  // recordings did start and stop meanwhile
  EXPECT_EQ(graph.started(), graph.finished());
}

}  // namespace
}  // namespace talvex
