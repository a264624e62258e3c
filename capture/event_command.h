// The command a user sets to run when a motion recording is saved ("on_event").
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// The command line for a saved video: every "%f" becomes the video's file name in double
// quotes, every "%%" a single "%"; any other "%" stays as it is.
std::string event_command_line(std::string_view command, std::string_view video_name);

// Starts event commands without a window and without waiting for them, at most two at a
// time: an event that finds two still running is skipped. A command that cannot be started
// is logged as 51, once for the program's run.
class EventCommands {
 public:
  static constexpr int kMostRunning = 2;

  EventCommands() = default;
  ~EventCommands();
  EventCommands(const EventCommands&) = delete;
  EventCommands& operator=(const EventCommands&) = delete;

  // `log` reports the failure; the command starts in the current directory.
  void run(std::string_view command, std::string_view video_name, void (*log)(int number));

 private:
  void* running_[kMostRunning] = {};  // process handles of the commands still running
  bool failure_logged_ = false;
};

}  // namespace talvex
