// The driver against a program it did not write (Wine's Notepad): start, find, type,
// close, answer the question about unsaved text, and see the process end.
#include <gtest/gtest.h>

#include "tests/e2e/driver_win.h"

namespace talvex::e2e {
namespace {

TEST(Driver, DrivesAnotherProcessThroughItsWindows) {
  char windows[MAX_PATH];
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  Program notepad = Program::start(std::string(windows) + "\\notepad.exe", "", windows);
  ASSERT_TRUE(notepad.started());
  HWND main = wait_window("Notepad", nullptr, kDefaultTimeout, notepad.pid());
  ASSERT_NE(main, nullptr);

  HWND edit = ::FindWindowExA(main, nullptr, "Edit", nullptr);
  ASSERT_NE(edit, nullptr);
  set_control_text(main, ::GetDlgCtrlID(edit), "typed by the driver");
  EXPECT_EQ(window_text(edit), "typed by the driver");
  ::SendMessageA(edit, EM_SETMODIFY, TRUE, 0);

  post_close(main);
  const auto question = answer_message_box("Notepad", IDNO, kDefaultTimeout, notepad.pid());
  ASSERT_TRUE(question.has_value());
  EXPECT_NE(question->find("Untitled"), std::string::npos) << *question;
  EXPECT_TRUE(notepad.wait_exit().has_value());
  EXPECT_TRUE(wait_gone(main));
}

}  // namespace
}  // namespace talvex::e2e
