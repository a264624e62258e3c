// The capture program, whole: started in a scratch video folder, driven through its
// window and dialogs, closed; then its files are read.
#include <gtest/gtest.h>

#include <string>

#include "common/window_win.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"

namespace talvex::e2e {
namespace {

constexpr char kClass[] = "myWindowClassTX";
constexpr char kCaption[] = "Talvex Capture";
constexpr char kSeparator[] = "************************************************";

struct TalvexRun {
  Program program;
  HWND window = nullptr;
};

TalvexRun start_talvex(const ScratchFolder& folder, const std::string& arguments = "") {
  TalvexRun run;
  run.program = Program::start(program_path("Talvex.exe"), arguments, folder.path());
  if (run.program.started())
    run.window = wait_window(kClass, nullptr, kDefaultTimeout, run.program.pid());
  return run;
}

void close_talvex(TalvexRun& run) {
  post_command(run.window, 9001);  // File > Exit
  ASSERT_TRUE(run.program.wait_exit().has_value());
}

TEST(Talvex, FirstStartWithoutConfiguration) {
  ScratchFolder folder;
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  RECT rect;
  ::GetWindowRect(run.window, &rect);
  EXPECT_EQ(rect.top, 100);
  EXPECT_EQ(rect.left, centre_x(349));
  EXPECT_EQ(rect.right - rect.left, 349);
  EXPECT_EQ(rect.bottom - rect.top, 296);
  EXPECT_EQ(window_text(run.window), "Talvex Capture <none>");
  EXPECT_TRUE(menu_item_state(run.window, 9013) & MF_GRAYED);
  close_talvex(run);

  const std::string log = read_file(folder.file("Talvex.log"));
  EXPECT_EQ(log.find(std::string(kSeparator) + "\r\n"), 0u) << log;
  EXPECT_NE(log.find(" Talvex Capture v3.0.2 [I]\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Unable to find \"configuration file\". Using defaults. (025)\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" Talvex Capture v3.0.2 [T]\r\n" + std::string(kSeparator) + "\r\n"),
            std::string::npos)
      << log;
  const std::string cfg = read_file(folder.file("Talvex.cfg"));
  EXPECT_EQ(cfg.rfind("/* Don't edit by hand. Use Talvex to change. */\n1.4 ", 0), 0u) << cfg;
  EXPECT_FALSE(file_exists(folder.file("Talvex_0.bmp")));
  EXPECT_FALSE(file_exists(folder.file("Talvex_tmp.avi")));
}

TEST(Talvex, VersionOptionShowsTheBoxFirst) {
  ScratchFolder folder;
  Program talvex = Program::start(program_path("Talvex.exe"), "-v", folder.path());
  const auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, talvex.pid());
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "3.0.2");
  HWND window = wait_window(kClass, nullptr, kDefaultTimeout, talvex.pid());
  ASSERT_NE(window, nullptr);
  post_command(window, 9001);
  EXPECT_TRUE(talvex.wait_exit().has_value());
}

}  // namespace
}  // namespace talvex::e2e
