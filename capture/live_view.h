// The live view: a small HTTP server in the capture program, for a browser on the same
// network (a phone). Every request needs the Digest login of the live-view settings. It
// serves the live picture as an MJPEG stream, the newest frame, the camera's status and the
// recent videos. Its threads are its own: the capture passes never wait for a client.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/live_view_login.h"
#include "common/system_calls.h"

namespace talvex {

// The newest frame for the live view. The graph's streaming thread offers each frame; it
// is copied only while someone watches, at most 10 times a second, and encoded as a JPEG
// once, by the first client thread that asks for it.
class LiveFrames {
 public:
  static constexpr std::chrono::milliseconds kFramePeriod{100};

  // While a Watcher lives, frames are kept.
  class Watcher {
   public:
    explicit Watcher(LiveFrames& frames) : frames_(frames) { ++frames_.watchers_; }
    ~Watcher() { --frames_.watchers_; }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

   private:
    LiveFrames& frames_;
  };

  // The streaming thread: a frame as the sample grabber holds it.
  void offer(const std::uint8_t* pixels, std::size_t size, int width, int height, int bit_count);

  struct Jpeg {
    std::shared_ptr<const std::string> bytes;  // empty before the first frame
    std::uint64_t sequence = 0;
    CalendarTime taken{};
  };
  Jpeg newest_jpeg();
  // Waits for a frame after `sequence`; false at the timeout or when the view stops.
  bool wait_newer(std::uint64_t sequence, std::chrono::milliseconds timeout);
  CalendarTime newest_time();
  // The camera's name for the page, set by the user-interface thread with each graph.
  void set_device(const std::string& name);
  std::string device();

  // Wakes every waiter for good (the server stops); start() makes frames flow again.
  void stop();
  void start();

 private:
  std::atomic<int> watchers_{0};
  std::mutex frame_lock_;  // guards the fields up to stopped_, with frame_arrived_
  std::condition_variable frame_arrived_;
  std::vector<std::uint8_t> raw_;
  int width_ = 0, height_ = 0, bit_count_ = 0;
  std::uint64_t sequence_ = 0;
  CalendarTime taken_{};
  std::string device_;
  std::chrono::steady_clock::time_point last_copy_{};
  bool stopped_ = false;
  std::mutex jpeg_lock_;  // guards jpeg_ (and the encoding into it)
  Jpeg jpeg_;
};

// What the status line shows; asked for by a client thread.
struct LiveStatus {
  std::string device;
  bool camera_sending = false;
  bool motion_enabled = false;
};

struct LiveViewConfig {
  std::string address = "0.0.0.0";  // every interface
  int port = 0;
  DigestAccount account;
};

class LiveViewServer {
 public:
  static constexpr int kMaxStreams = 8;
  static constexpr int kThreads = kMaxStreams + 2;  // the streams, and room to refuse more
  static constexpr std::chrono::seconds kIdleTimeout{10};
  // What a stalled client may hold a thread for; the program's close waits no longer.
  static constexpr std::chrono::seconds kWriteTimeout{3};

  LiveViewServer(LiveFrames& frames, std::function<LiveStatus()> status);
  ~LiveViewServer();
  LiveViewServer(const LiveViewServer&) = delete;
  LiveViewServer& operator=(const LiveViewServer&) = delete;

  // Listens and serves on threads of its own: 54, or 53 when the login has no password or
  // the port cannot be had. A running server is stopped first.
  int start(const LiveViewConfig& config);
  // Cuts every client and joins the threads.
  void stop();
  bool running() const;
  // The port it listens on (the one asked for, or the system's choice for port 0).
  int port() const;

  class Impl;

 private:
  LiveFrames& frames_;
  std::function<LiveStatus()> status_;
  std::unique_ptr<Impl> impl_;
};

// The videos the live view lists: finished recordings of the folder, newest first by their
// start (then their end), at most `limit`.
struct ListedVideo {
  std::string name;
  CalendarTime start{}, end{};
  std::uint64_t size = 0;
};
std::vector<ListedVideo> list_videos(const std::string& folder, std::size_t limit);

}  // namespace talvex
