#include <windows.h>

#include <string>
#include <vector>

#include "app/talvex_messages.h"
#include "capture/event_command.h"

namespace talvex {

EventCommands::~EventCommands() {
  // The commands go on; only their handles are ours.
  for (void*& process : running_) {
    if (process) ::CloseHandle(process);
    process = nullptr;
  }
}

void EventCommands::run(std::string_view command, std::string_view video_name,
                        void (*log)(int number)) {
  if (command.empty()) return;
  void** free_slot = nullptr;
  for (void*& process : running_) {
    if (process && ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
      ::CloseHandle(process);
      process = nullptr;
    }
    if (!process && !free_slot) free_slot = &process;
  }
  if (!free_slot) return;  // two still run: this event is skipped
  std::string line = event_command_line(command, video_name);
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &started)) {
    if (!failure_logged_ && log) log(msg::kEventCommandFailed);
    failure_logged_ = true;
    return;
  }
  ::CloseHandle(started.hThread);
  *free_slot = started.hProcess;
}

}  // namespace talvex
