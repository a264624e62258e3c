// Drives the real programs from outside, as a user would: starts them, finds their
// windows and dialogs, posts menu commands, fills and clicks controls, reads and answers
// message boxes. Used by the end-to-end tests under Wine and Xvfb.
//
// Commands are posted, not sent, where a modal loop may follow (a menu command that opens
// a dialog, a button that shows a message box): SendMessage would block until it closes.
#pragma once

#include "tests/win/process_counts_win.h"

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace talvex::e2e {

using Timeout = std::chrono::milliseconds;
constexpr Timeout kDefaultTimeout{10000};

// A program under test. Ends it at destruction if it still runs.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  Program(Program&& other) noexcept;
  Program& operator=(Program&& other) noexcept;
  ~Program();

  // Starts `exe` with `arguments` (the text after the program name) in `working_dir`.
  static Program start(const std::string& exe, const std::string& arguments,
                       const std::string& working_dir);
  bool started() const { return process_ != nullptr; }
  DWORD pid() const { return pid_; }
  // Waits for the end; returns its exit code, or nothing after the timeout.
  std::optional<DWORD> wait_exit(Timeout timeout = kDefaultTimeout);
  void kill();

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// A visible or hidden top-level window by class and/or title (nullptr matches any),
// optionally of one process; nullptr after the timeout.
HWND wait_window(const char* class_name, const char* title, Timeout timeout = kDefaultTimeout,
                 DWORD pid = 0);
// A dialog (class "#32770") by title.
HWND wait_dialog(const char* title, Timeout timeout = kDefaultTimeout, DWORD pid = 0);
// Waits until the window no longer exists.
bool wait_gone(HWND window, Timeout timeout = kDefaultTimeout);

// Posts WM_COMMAND for a menu item or control id.
void post_command(HWND window, int id);
void post_close(HWND window);
// Presses a button (BM_CLICK, posted).
void click(HWND dialog, int control_id);

std::string window_text(HWND window);
std::string control_text(HWND dialog, int control_id);
void set_control_text(HWND dialog, int control_id, const std::string& text);
void set_check(HWND dialog, int control_id, bool checked);
bool is_checked(HWND dialog, int control_id);
bool is_enabled(HWND dialog, int control_id);

// A message box (dialog) with this caption: its text (control 0xFFFF), answered with
// `button` (IDOK, IDCANCEL, IDYES, IDNO ...). Nothing when none came in time.
std::optional<std::string> answer_message_box(const char* caption, int button,
                                              Timeout timeout = kDefaultTimeout, DWORD pid = 0);

// Controls whose messages carry pointers (list views, tree views, month calendars, date
// pickers): the structure is copied into memory of the control's process, the message is
// sent there, and the structure is read back.
LRESULT send_with_remote_data(HWND control, UINT message, WPARAM w, void* data, std::size_t size);
int list_view_count(HWND list);
std::string list_view_text(HWND list, int row, int column);
// Selects (and focuses) one row, clearing the others.
void select_list_view_row(HWND list, int row);
// Walks a tree view from its root, expanding, to the item whose path of texts is given;
// selects it. False when an item is missing.
bool select_tree_path(HWND tree, const std::vector<std::string>& texts);
// The first child window of a class.
HWND find_child(HWND parent, const char* class_name);

// Saves what the screen shows of the window as a 24-bit BMP file, when the folder named
// by TALVEX_SCREENSHOTS is set (the tests keep their screenshots there as artifacts).
void save_screenshot(HWND window, const std::string& name);

// Polls `condition` until it holds or the timeout passes.
template <typename Condition>
bool wait_until(Condition condition, Timeout timeout = kDefaultTimeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    ::Sleep(50);
  }
}

}  // namespace talvex::e2e
