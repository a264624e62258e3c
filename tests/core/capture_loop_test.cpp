#include "capture/capture_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/talvex_messages.h"

namespace talvex {
namespace {

// Steps with scripted results that write down what the pass asked of them.
class ScriptedSteps : public CaptureSteps {
 public:
  int grab_result = msg::kOk;
  int write_result = msg::kOk;
  int snapshot_result = msg::kOk;
  int upload_result = msg::kOk;  // what the attempt ends with, one pass later
  int hand_over_result = msg::kOk;
  std::vector<int> finished;
  std::function<bool()> motion = [] { return false; };
  std::function<void()> on_grab = [] {};
  bool flowing = true;
  bool frames_flowing() override { return flowing; }
  std::vector<std::string> events;

  int grab_frame() override {
    on_grab();
    events.push_back("grab");
    return grab_result;
  }
  int write_frame_file(int index) override {
    events.push_back("write" + std::to_string(index));
    return write_result;
  }
  int make_snapshot(int index) override {
    events.push_back("snap" + std::to_string(index));
    return snapshot_result;
  }
  int start_upload(const char* file, const FtpTexts& ftp) override {
    events.push_back(std::string("upload ") + file + " " + ftp.server.str());
    if (hand_over_result == msg::kOk) finished.push_back(upload_result);
    return hand_over_result;
  }
  bool finished_upload(int& result) override {
    if (finished.empty()) return false;
    result = finished.front();
    finished.erase(finished.begin());
    return true;
  }
  bool detect_motion() override {
    events.push_back("detect");
    return motion();
  }
  void request_recording_start() override { events.push_back("start"); }
  void request_recording_stop() override { events.push_back("stop"); }
  void log_message(int number) override { events.push_back("log" + std::to_string(number)); }

  // The events of one pass, joined.
  std::string take() {
    std::string joined;
    for (const std::string& e : events) joined += (joined.empty() ? "" : ",") + e;
    events.clear();
    return joined;
  }
};

class CaptureLoopTest : public ::testing::Test {
 protected:
  std::string pass() {
    run_pass(settings_, steps_, state_);
    return steps_.take();
  }
  Settings settings_;
  ScriptedSteps steps_;
  LoopState state_;
};

TEST_F(CaptureLoopTest, IdlePassesOnlySleep) {
  state_.frame_index = 2;
  state_.upload_timer = 0.5f;
  state_.recording_timer = 1.0f;
  settings_.motion_recording = true;
  settings_.ftp_enabled = true;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pass(), "") << i;
  EXPECT_EQ(state_.frame_index, 0);
  EXPECT_EQ(state_.upload_timer, 0.5f);
  EXPECT_EQ(state_.recording_timer, 1.0f);
  EXPECT_TRUE(settings_.motion_recording);
}

TEST_F(CaptureLoopTest, PassesWhileTheCameraIsSilentOnlySleep) {
  settings_.capture_frames = true;
  settings_.motion_enabled = true;
  settings_.ftp_enabled = true;
  steps_.flowing = false;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pass(), "") << i;
  EXPECT_EQ(state_.frame_index, 0);
  EXPECT_EQ(state_.upload_timer, 0.0f);
  steps_.flowing = true;
  EXPECT_EQ(pass(), "grab,write0,snap0");
}

TEST_F(CaptureLoopTest, MotionAloneAlternatesFramesAndChecksEverySecondPass) {
  settings_.motion_enabled = true;
  const char* expected[] = {"grab,write0", "grab,write1,detect", "grab,write0",
                            "grab,write1,detect"};
  for (const char* e : expected) EXPECT_EQ(pass(), e);
}

TEST_F(CaptureLoopTest, UploadsEveryFourthSnapshotPass) {
  settings_.capture_frames = true;
  settings_.ftp_enabled = true;
  FtpTexts ftp;
  ftp.server = "host";
  settings_.set_ftp(ftp);
  std::vector<int> upload_passes;
  for (int i = 1; i <= 12; ++i) {
    const std::string events = pass();
    if (events.find("upload Talvex.jpg host") != std::string::npos) upload_passes.push_back(i);
  }
  EXPECT_EQ(upload_passes, (std::vector<int>{4, 8, 12}));
  EXPECT_EQ(state_.upload_timer, 0.0f);
}

// An attempt's failure is logged on the next snapshot pass, which tries again at once.
TEST_F(CaptureLoopTest, FailedUploadIsRetriedAndLoggedOnEveryPass) {
  settings_.capture_frames = true;
  settings_.ftp_enabled = true;
  steps_.upload_result = 40;
  for (int i = 0; i < 3; ++i) pass();
  EXPECT_EQ(pass(), "grab,write1,snap1,upload Talvex.jpg  ");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pass(), std::string("grab,write") + (i % 2 ? "1" : "0") + ",snap" +
                          (i % 2 ? "1" : "0") + ",log40,upload Talvex.jpg  ");
  }
  // A snapshot that could not even be read is logged at once and tried on the next pass.
  steps_.finished.clear();
  state_.upload_timer = 0.75f;
  steps_.hand_over_result = 41;
  EXPECT_EQ(pass(), "grab,write0,snap0,upload Talvex.jpg  ,log41");
  EXPECT_EQ(pass(), "grab,write1,snap1,upload Talvex.jpg  ,log41");
  EXPECT_EQ(state_.upload_timer, 0.75f);
}

TEST_F(CaptureLoopTest, FtpOffKeepsTheUploadTimer) {
  settings_.capture_frames = true;
  state_.upload_timer = 0.5f;
  for (int i = 0; i < 5; ++i) pass();
  EXPECT_EQ(state_.upload_timer, 0.5f);
}

// A failed step skips the rest of the frame work, never the index or the motion steps.
TEST_F(CaptureLoopTest, FailuresAreLoggedAndTheLoopGoesOn) {
  struct Case {
    const char* name;
    void (*fault)(ScriptedSteps&);
    const char* first;
    const char* second;
  } cases[] = {
      {"grab", [](ScriptedSteps& s) { s.grab_result = 14; }, "grab,log15", "grab,log15,detect"},
      {"write", [](ScriptedSteps& s) { s.write_result = 3; }, "grab,write0,log16",
       "grab,write1,log16,detect"},
      {"snapshot", [](ScriptedSteps& s) { s.snapshot_result = 1; }, "grab,write0,snap0,log17",
       "grab,write1,snap1,log17,detect"},
  };
  for (const Case& c : cases) {
    Settings settings;
    settings.capture_frames = true;
    settings.motion_enabled = true;
    settings.ftp_enabled = true;
    ScriptedSteps steps;
    c.fault(steps);
    LoopState state;
    state.upload_timer = 0.75f;
    for (int round = 0; round < 3; ++round) {
      run_pass(settings, steps, state);
      EXPECT_EQ(steps.take(), c.first) << c.name;
      run_pass(settings, steps, state);
      EXPECT_EQ(steps.take(), c.second) << c.name;
    }
    EXPECT_EQ(state.upload_timer, 0.75f) << c.name;  // frozen: no upload was reached
  }
}

// A recording started at working pass P stops at P + 4D + 1.
TEST_F(CaptureLoopTest, MotionRecordingLastsItsDuration) {
  struct Case {
    int duration;
    int stop_after;
  } cases[] = {{30, 121}, {1, 5}, {0, 1}, {-4, 1}};
  for (const Case& c : cases) {
    Settings settings;
    settings.motion_enabled = true;
    settings.motion_duration = c.duration;
    ScriptedSteps steps;
    bool triggered = false;
    steps.motion = [&triggered] { return !std::exchange(triggered, true); };
    LoopState state;
    run_pass(settings, steps, state);
    run_pass(settings, steps, state);
    ASSERT_EQ(steps.take(), "grab,write0,grab,write1,detect,start") << c.duration;
    ASSERT_TRUE(settings.motion_recording);
    int passes = 0;
    while (settings.motion_recording && passes < 1000) {
      ++passes;
      run_pass(settings, steps, state);
      EXPECT_EQ(steps.take().find("detect"), std::string::npos) << "no check while recording";
    }
    EXPECT_EQ(passes, c.stop_after) << c.duration;
  }
}

TEST_F(CaptureLoopTest, StopOnAPassWithAnEvenIndexChecksAgainOnlyAtTheNextPair) {
  settings_.motion_enabled = true;
  settings_.motion_duration = 0;
  steps_.motion = [] { return true; };
  EXPECT_EQ(pass(), "grab,write0");
  EXPECT_EQ(pass(), "grab,write1,detect,start");
  EXPECT_EQ(pass(), "grab,write0,stop");
  EXPECT_EQ(pass(), "grab,write1,detect,start");
}

TEST(CaptureThread, FirstActionIsTheRunningTest) {
  Settings settings;
  settings.motion_enabled = true;
  settings.capture_running = false;
  ScriptedSteps steps;
  CaptureThread thread(settings, steps);
  ASSERT_EQ(thread.start(), msg::kOk);
  thread.stop();
  EXPECT_TRUE(steps.events.empty());
}

// Stopping while a pass is under way lets that pass finish and runs no other.
TEST(CaptureThread, StopWaitsForThePassUnderWay) {
  Settings settings;
  settings.motion_enabled = true;
  ScriptedSteps steps;
  std::mutex gate_lock;
  std::condition_variable gate;
  bool in_grab = false, released = false;
  steps.on_grab = [&] {
    std::unique_lock<std::mutex> lock(gate_lock);
    in_grab = true;
    gate.notify_all();
    gate.wait(lock, [&] { return released; });
  };
  CaptureThread thread(settings, steps);
  ASSERT_EQ(thread.start(), msg::kOk);
  {
    std::unique_lock<std::mutex> lock(gate_lock);
    gate.wait(lock, [&] { return in_grab; });
  }
  std::thread stopper([&] { thread.stop(); });
  while (settings.capture_running) std::this_thread::yield();
  {
    std::lock_guard<std::mutex> lock(gate_lock);
    released = true;
  }
  gate.notify_all();
  stopper.join();
  EXPECT_FALSE(thread.running());
  EXPECT_EQ(steps.take(), "grab,write0");
}

}  // namespace
}  // namespace talvex
