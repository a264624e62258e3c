// The capture program, whole: started in a scratch video folder, driven through its
// window and dialogs, closed; then its files are read.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/digest.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"
#include "tests/win/filter_dlls_win.h"

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
  EXPECT_EQ(run.program.wait_exit(), 0u);
}

TEST(Talvex, FirstStartWithoutConfiguration) {
  ScratchFolder folder;
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  RECT rect;
  ::GetWindowRect(run.window, &rect);
  EXPECT_EQ(rect.top, 100);
  EXPECT_EQ(rect.left, centred_x(349));
  EXPECT_EQ(rect.right - rect.left, 349);
  EXPECT_EQ(rect.bottom - rect.top, 296);
  EXPECT_EQ(window_text(run.window), "Talvex Capture <none>");
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

// A line of the configuration file (0 is the first), split into its words.
std::vector<std::string> config_words(const ScratchFolder& folder, int line_number = 1) {
  std::istringstream cfg(read_file(folder.file("Talvex.cfg")));
  std::string text;
  for (int i = 0; i <= line_number; ++i) {
    if (!std::getline(cfg, text)) return {};
  }
  std::vector<std::string> words;
  std::istringstream line(text);
  for (std::string w; line >> w;) words.push_back(w);
  return words;
}

constexpr char kDefaults[] =
    "/* Don't edit by hand. Use Talvex to change. */\n"
    "1.4 -1 -1 <none> <none> 0 0 . 0 _ -5 _ _ _ 0 7.500000 30 >";

// Word positions in line 2.
enum Word {
  kCaptureFrames = 5,
  kCaptureVideo = 6,
  kFtpEnabled = 8,
  kFtpServer = 9,
  kFtpPort = 10,
  kFtpUser = 11,
  kMotionEnabled = 14,
  kThreshold = 15,
  kDuration = 16
};

TEST(Talvex, FtpDialogTurnsCaptureFramesOnAndMendsThePort) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  post_command(run.window, 9015);
  HWND dialog = wait_dialog("FTP Configuration", kDefaultTimeout, run.program.pid());
  ASSERT_NE(dialog, nullptr);
  save_screenshot(dialog, "ftp_dialog");
  EXPECT_EQ(control_text(dialog, 607), "21");  // negative in the file
  EXPECT_EQ(control_text(dialog, 114), "");    // " " shows as empty
  set_check(dialog, 112, true);
  set_control_text(dialog, 114, "ftp.example.org");
  set_control_text(dialog, 605, "camera");
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
  close_talvex(run);
  const auto words = config_words(folder);
  ASSERT_EQ(words.size(), 18u);
  EXPECT_EQ(words[kFtpEnabled], "1");
  EXPECT_EQ(words[kCaptureFrames], "1");
  EXPECT_EQ(words[kFtpServer], "ftp.example.org");
  EXPECT_EQ(words[kFtpPort], "21");
  EXPECT_EQ(words[kFtpUser], "camera");
}

TEST(Talvex, MotionDialogSliderAndThreshold) {
  struct Case {
    int position;
    const char* threshold;
  } cases[] = {{20, "3.000000"}, {1, "12.500000"}, {11, "7.500000"}};
  for (const Case& c : cases) {
    ScratchFolder folder;
    write_file(folder.file("Talvex.cfg"), kDefaults);
    TalvexRun run = start_talvex(folder);
    ASSERT_NE(run.window, nullptr);
    post_command(run.window, 9016);
    HWND dialog = wait_dialog("Motion Detection Configuration", kDefaultTimeout, run.program.pid());
    ASSERT_NE(dialog, nullptr);
    save_screenshot(dialog, "motion_dialog");
    HWND slider = ::GetDlgItem(dialog, 9017);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(::SendMessageA(slider, TBM_GETPOS, 0, 0), 11);  // threshold 7.5
    ::SendMessageA(slider, TBM_SETPOS, TRUE, c.position);
    set_check(dialog, 703, true);
    set_control_text(dialog, 706, "");  // no number: the duration stays
    click(dialog, IDOK);
    ASSERT_TRUE(wait_gone(dialog));
    close_talvex(run);
    const auto words = config_words(folder);
    ASSERT_EQ(words.size(), 18u);
    EXPECT_EQ(words[kThreshold], c.threshold) << c.position;
    EXPECT_EQ(words[kMotionEnabled], "1");
    EXPECT_EQ(words[kDuration], "30");
  }
}

TEST(Talvex, CaptureDialogWithAMissingFolderSavesAndSays018) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  post_command(run.window, 9011);
  HWND dialog = wait_dialog("Capture Configuration", kDefaultTimeout, run.program.pid());
  ASSERT_NE(dialog, nullptr);
  save_screenshot(dialog, "capture_dialog");
  set_check(dialog, 108, true);
  set_control_text(dialog, 104, "c:\\no such folder");
  click(dialog, IDOK);
  const auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, run.program.pid());
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "Unable to change to \"Output directory\".\nKeeping current settings. (018)");
  ASSERT_TRUE(wait_gone(dialog));
  // Written at OK, before the folder change was tried.
  EXPECT_EQ(config_words(folder)[kCaptureFrames], "1");
  close_talvex(run);
}

// Browse can put a path longer than the folder field into the edit. Its first 98
// characters name a folder that exists; OK must refuse the whole, not enter the cut.
TEST(Talvex, CaptureDialogRefusesAFolderTooLongForIt) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);
  std::string cut = folder.path() + "\\";
  cut += std::string(98 - cut.size(), 'v');
  ASSERT_TRUE(::CreateDirectoryA(cut.c_str(), nullptr)) << cut;
  const std::string chosen = cut + "\\more than the field holds";
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  post_command(run.window, 9011);
  HWND dialog = wait_dialog("Capture Configuration", kDefaultTimeout, run.program.pid());
  ASSERT_NE(dialog, nullptr);
  set_control_text(dialog, 104, chosen);
  click(dialog, IDOK);
  const auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, run.program.pid());
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "Unable to change to \"Output directory\".\nKeeping current settings. (018)");
  ASSERT_TRUE(wait_gone(dialog));
  close_talvex(run);
  // The program stayed in its folder and saved that one at the end.
  EXPECT_FALSE(file_exists(cut + "\\Talvex.cfg"));
  EXPECT_FALSE(file_exists(cut + "\\Talvex.log"));
  const auto words = config_words(folder);
  ASSERT_EQ(words.size(), 18u);
  EXPECT_EQ(words[7], ".");
}

// Command 106 is the Capture dialog's Browse button; no other dialog answers it.
TEST(Talvex, OnlyTheCaptureDialogBrowses) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  const DWORD pid = run.program.pid();
  struct Case {
    int command;
    const char* title;
    bool browses;
  } cases[] = {{9011, "Capture Configuration", true},
               {9016, "Motion Detection Configuration", false},
               {9015, "FTP Configuration", false},
               {9010, "Video Device Configuration", false},
               {9014, "Compressor Configuration", false},
               {9012, "About", false},
               {9018, "Events and Storage Configuration", false}};
  for (const Case& c : cases) {
    post_command(run.window, c.command);
    HWND dialog = wait_dialog(c.title, kDefaultTimeout, pid);
    ASSERT_NE(dialog, nullptr) << c.title;
    post_command(dialog, 106);
    HWND browser = wait_dialog("Video Folder", c.browses ? kDefaultTimeout : Timeout{700}, pid);
    EXPECT_EQ(browser != nullptr, c.browses) << c.title;
    if (browser) {
      click(browser, IDCANCEL);
      ASSERT_TRUE(wait_gone(browser));
    }
    click(dialog, c.command == 9012 ? IDOK : IDCANCEL);  // About has OK only
    ASSERT_TRUE(wait_gone(dialog)) << c.title;
  }
  close_talvex(run);
}

// The number fields of the Motion Detection and FTP dialogs, read back by opening the
// dialog again: out-of-range durations saturate, port 0 is kept as typed.
TEST(Talvex, NumberFieldsOfTheDialogs) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  const DWORD pid = run.program.pid();
  auto enter = [&](int command, const char* title, int field, const std::string& typed) {
    post_command(run.window, command);
    HWND dialog = wait_dialog(title, kDefaultTimeout, pid);
    ASSERT_NE(dialog, nullptr) << title;
    set_control_text(dialog, field, typed);
    click(dialog, IDOK);
    ASSERT_TRUE(wait_gone(dialog)) << title;
  };
  auto shown = [&](int command, const char* title, int field) {
    post_command(run.window, command);
    HWND dialog = wait_dialog(title, kDefaultTimeout, pid);
    if (!dialog) return std::string("no dialog");
    const std::string text = control_text(dialog, field);
    click(dialog, IDCANCEL);
    wait_gone(dialog);
    return text;
  };
  struct Case {
    int command;
    const char* title;
    int field;
    std::string typed;
    const char* kept;
  } cases[] = {
      {9016, "Motion Detection Configuration", 706, std::string(510, '9'), "2147483647"},
      {9016, "Motion Detection Configuration", 706, "4294967301", "2147483647"},
      {9016, "Motion Detection Configuration", 706, "45", "45"},
      {9015, "FTP Configuration", 607, "0", "0"},
      {9015, "FTP Configuration", 607, "65535", "65535"},
      {9015, "FTP Configuration", 607, "", "21"},
  };
  for (const Case& c : cases) {
    enter(c.command, c.title, c.field, c.typed);
    EXPECT_EQ(shown(c.command, c.title, c.field), c.kept) << c.typed.substr(0, 20);
  }
  close_talvex(run);
}

// The "&Configure" pop-up as a user goes through it from the keyboard: the classic items
// in their order, then the new one last. (Under Wine another process cannot read a
// window's menu, so the items are told apart by what choosing them opens.)
TEST(Talvex, ConfigureMenuKeepsItsItemsAndEndsInEventsAndStorage) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  const DWORD pid = run.program.pid();
  const char* titles[] = {"Capture Configuration",
                          "Motion Detection Configuration",
                          "FTP Configuration",
                          "Video Device Configuration",
                          "Compressor Configuration",
                          nullptr,  // V&ideo Properties...
                          "Events and Storage Configuration",
                          "Capture Configuration"};  // round to the first: seven items
  for (int item = 0; item < static_cast<int>(std::size(titles)); ++item) {
    ::PostMessageA(run.window, WM_SYSCOMMAND, SC_KEYMENU, 'c');  // Alt+C
    HWND popup = wait_window("#32768", nullptr, kDefaultTimeout, pid);
    ASSERT_NE(popup, nullptr) << item;
    for (int i = 0; i < item; ++i) ::PostMessageA(run.window, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageA(run.window, WM_KEYDOWN, VK_RETURN, 0);
    if (!titles[item]) {
      // No device: the properties item opens nothing.
      EXPECT_FALSE(wait_dialog(nullptr, Timeout{700}, pid)) << item;
      continue;
    }
    HWND dialog = wait_dialog(titles[item], kDefaultTimeout, pid);
    ASSERT_NE(dialog, nullptr) << titles[item];
    click(dialog, IDCANCEL);
    ASSERT_TRUE(wait_gone(dialog)) << titles[item];
  }
  close_talvex(run);
}

// Line 3 of the configuration file as key -> value, the values still %XX-escaped.
std::map<std::string, std::string> events_line(const ScratchFolder& folder) {
  std::map<std::string, std::string> keys;
  const auto words = config_words(folder, 2);
  if (words.size() < 3 || words[0] != "talvex-ext" || words.back() != ">") return keys;
  for (std::size_t i = 2; i + 1 < words.size(); ++i) {
    const std::size_t equals = words[i].find('=');
    keys[words[i].substr(0, equals)] = words[i].substr(equals + 1);
  }
  return keys;
}

TEST(Talvex, EventsAndStorageDialog) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"), kDefaults);  // two lines: every new setting off
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  const DWORD pid = run.program.pid();
  auto open = [&] {
    post_command(run.window, 9018);
    return wait_dialog("Events and Storage Configuration", kDefaultTimeout, pid);
  };
  struct Field {
    int id;
    const char* old_value;
    const char* new_value;
    const char* key;
    const char* saved;
  } fields[] = {
      {811, "0", "3", "pre_event", "3"},
      {812, "0", "2048", "keep_free_mb", "2048"},
      {813, "0", "30", "max_age_days", "30"},
      {815, "0", "2", "warm_up", "2"},
      {816, "0", "8080", "web_port", "8080"},
      {817, "", "cam one", "web_user", "cam%20one"},
      {819, "", "notify.cmd \"%f\"", "on_event", "notify.cmd%20\"%25f\""},
  };

  // Cancel changes nothing.
  HWND dialog = open();
  ASSERT_NE(dialog, nullptr);
  save_screenshot(dialog, "events_and_storage_dialog");
  for (const Field& f : fields) {
    EXPECT_EQ(control_text(dialog, f.id), f.old_value) << f.key;
    set_control_text(dialog, f.id, f.new_value);
  }
  EXPECT_FALSE(is_checked(dialog, 814));
  set_check(dialog, 814, true);
  // Esc is Cancel.
  ::PostMessageA(::GetDlgItem(dialog, 811), WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(wait_gone(dialog));

  // A bad number keeps the dialog open, with the message box and the old value.
  dialog = open();
  ASSERT_NE(dialog, nullptr);
  for (const Field& f : fields) EXPECT_EQ(control_text(dialog, f.id), f.old_value) << f.key;
  EXPECT_FALSE(is_checked(dialog, 814));
  struct Bad {
    int id;
    const char* typed;
  } bad[] = {{811, "31"}, {812, "10000001"}, {813, "3651"}, {815, "99"}, {816, "65536"}, {816, ""}};
  for (const Bad& b : bad) {
    set_control_text(dialog, b.id, b.typed);
    click(dialog, IDOK);
    const auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, pid);
    ASSERT_TRUE(text.has_value()) << b.id << " " << b.typed;
    EXPECT_EQ(*text, "Invalid setting in \"configuration file\". Using its default. (049)");
    ::Sleep(200);
    EXPECT_TRUE(::IsWindow(dialog)) << b.id;
    EXPECT_EQ(control_text(dialog, b.id), "0") << b.id;
  }

  // Every control set, then OK: the record is written at once.
  for (const Field& f : fields) set_control_text(dialog, f.id, f.new_value);
  set_check(dialog, 814, true);
  set_control_text(dialog, 818, "s3cret word");
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
  auto keys = events_line(folder);
  for (const Field& f : fields) EXPECT_EQ(keys[f.key], f.saved) << f.key;
  EXPECT_EQ(keys["light_filter"], "1");
  // The password is kept only as MD5(user:realm:password), the realm this installation's.
  const std::string realm = keys["web_realm"];
  ASSERT_EQ(realm.rfind("Talvex%20", 0), 0u) << realm;
  EXPECT_EQ(keys["web_password"], md5_hex("cam one:Talvex " + realm.substr(9) + ":s3cret word"));
  const std::string cfg = read_file(folder.file("Talvex.cfg"));
  EXPECT_EQ(cfg.find("s3cret"), std::string::npos) << cfg;

  // Opened again: the values as set, and nothing of the password.
  dialog = open();
  ASSERT_NE(dialog, nullptr);
  for (const Field& f : fields) EXPECT_EQ(control_text(dialog, f.id), f.new_value) << f.key;
  EXPECT_TRUE(is_checked(dialog, 814));
  EXPECT_EQ(control_text(dialog, 818), "");
  // Another user without the password: refused, nothing changes.
  set_control_text(dialog, 817, "guard");
  click(dialog, IDOK);
  const auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, pid);
  ASSERT_TRUE(text.has_value());
  ::Sleep(200);
  EXPECT_TRUE(::IsWindow(dialog));
  click(dialog, IDCANCEL);
  ASSERT_TRUE(wait_gone(dialog));
  close_talvex(run);

  // Line 2 is the classic line with the classic values; line 3 kept what was set.
  const auto words = config_words(folder);
  ASSERT_EQ(words.size(), 18u);
  EXPECT_EQ(words[kThreshold], "7.500000");
  EXPECT_EQ(events_line(folder), keys);
}

// A line 3 with bad values: 049 once at the start, line 2 read as without it, and the
// good values kept when the file is saved again.
TEST(Talvex, BadLine3IsLoggedOnceAndLeavesLine2Alone) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"),
             std::string(kDefaults) +
                 "\ntalvex-ext 1 pre_event=99 warm_up=2 web_port=http keep_free_mb=100 >");
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  close_talvex(run);
  const std::string log = read_file(folder.file("Talvex.log"));
  const std::string text = "Invalid setting in \"configuration file\". Using its default. (049)";
  const std::size_t at = log.find(text);
  EXPECT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find(text, at + 1), std::string::npos) << log;
  EXPECT_EQ(log.find("(026)"), std::string::npos) << log;
  EXPECT_EQ(log.find("(044)"), std::string::npos) << log;
  const auto words = config_words(folder);
  ASSERT_EQ(words.size(), 18u);
  EXPECT_EQ(words[kFtpPort], "-5");  // as line 2 had it
  auto keys = events_line(folder);
  EXPECT_EQ(keys["pre_event"], "0");
  EXPECT_EQ(keys["web_port"], "0");
  EXPECT_EQ(keys["warm_up"], "2");
  EXPECT_EQ(keys["keep_free_mb"], "100");
}

TEST(Talvex, CompressorWithoutDeviceCannotBeUsed) {
  ScratchFolder folder;
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  post_command(run.window, 9014);
  HWND dialog = wait_dialog("Compressor Configuration", kDefaultTimeout, run.program.pid());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(control_text(dialog, 502), "<none>");
  HWND list = ::GetDlgItem(dialog, 203);
  ASSERT_GT(::SendMessageA(list, LB_GETCOUNT, 0, 0), 1);  // the system's compressors
  ::SendMessageA(list, LB_SETCURSEL, 0, 0);
  click(dialog, IDOK);
  const auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, run.program.pid());
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "Unable to use the \"Compressor\" specified. (036)");
  ASSERT_TRUE(wait_gone(dialog));
  close_talvex(run);
}

TEST(Talvex, SavedPositionMissingFolderAndListOption) {
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"),
             "/* Don't edit by hand. Use Talvex to change. */\n"
             "1.4 40 -1 <none> <none> 0 0 c:\\no>such>folder 0 _ 21 _ _ _ 0 7.500000 30 >");
  TalvexRun run = start_talvex(folder, "-l");
  ASSERT_NE(run.window, nullptr);
  RECT rect;
  ::GetWindowRect(run.window, &rect);
  EXPECT_EQ(rect.left, 40);  // (40, -1) is a position, not the centring request
  EXPECT_EQ(rect.top, -1);
  close_talvex(run);
  const std::string log = read_file(folder.file("Talvex.log"));
  EXPECT_NE(log.find("\"configuration file\". (028)\r\n"), std::string::npos) << log;
  // The list file went to the start folder, the video folder being unreachable.
  const std::string list = read_file(folder.file("Talvex.lst"));
  EXPECT_EQ(list.find("<none>\n"), 0u) << list;
  EXPECT_NE(list.find("Cinepak Video codec\n"), std::string::npos) << list;
  EXPECT_EQ(list.substr(list.size() - 7), "<none>\n");
  EXPECT_EQ(list.find('\r'), std::string::npos);
  // The folder saved at the end is the one the program worked in.
  EXPECT_NE(config_words(folder)[7].find("talvex_e2e_"), std::string::npos);
}

TEST(Talvex, TwoOptionsTakeNoEffect) {
  ScratchFolder folder;
  TalvexRun run = start_talvex(folder, "-g -l");
  ASSERT_NE(run.window, nullptr);
  close_talvex(run);
  EXPECT_FALSE(file_exists(folder.file("Talvex.lst")));
  EXPECT_TRUE(file_exists(folder.file("Talvex.log")));
}

// The virtual cameras and the compressor, registered for the tests that need a device.
class Cameras {
 public:
  bool registered() const { return dlls_.result() == S_OK; }

 private:
  testing::FilterDlls dlls_{program_path("")};
};

// Picks the line of a list box that holds `text`.
bool select_line(HWND dialog, int list, const char* text) {
  const LRESULT line = ::SendDlgItemMessageA(
      dialog, list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
  if (line == LB_ERR) return false;
  ::SendDlgItemMessageA(dialog, list, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
  return true;
}

TEST(Talvex, VideoDeviceAndCompressorDialogs) {
  Cameras cameras;
  ASSERT_TRUE(cameras.registered());
  ScratchFolder folder;
  TalvexRun run = start_talvex(folder);
  ASSERT_NE(run.window, nullptr);
  const DWORD pid = run.program.pid();

  post_command(run.window, 9010);
  HWND dialog = wait_dialog("Video Device Configuration", kDefaultTimeout, pid);
  ASSERT_NE(dialog, nullptr);
  save_screenshot(dialog, "video_device_dialog");
  EXPECT_EQ(::SendDlgItemMessageA(dialog, 202, LB_GETCURSEL, 0, 0), 0);  // first line
  ASSERT_TRUE(select_line(dialog, 202, "Talvex Test Camera"));
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
  EXPECT_EQ(window_text(run.window), "Talvex Capture <Talvex Test Camera>");
  ::Sleep(1000);
  save_screenshot(run.window, "main_window");

  // A compressor that can't encode here: built without it, and 036.
  post_command(run.window, 9014);
  dialog = wait_dialog("Compressor Configuration", kDefaultTimeout, pid);
  ASSERT_NE(dialog, nullptr);
  save_screenshot(dialog, "compressor_dialog");
  ASSERT_TRUE(select_line(dialog, 203, "Cinepak Video codec"));
  click(dialog, IDOK);
  auto text = answer_message_box(kCaption, IDOK, kDefaultTimeout, pid);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "Unable to use the \"Compressor\" specified. (036)");
  ASSERT_TRUE(wait_gone(dialog));

  // Ours works.
  post_command(run.window, 9014);
  dialog = wait_dialog("Compressor Configuration", kDefaultTimeout, pid);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(control_text(dialog, 502), "<none>");
  ASSERT_TRUE(select_line(dialog, 203, "Talvex MJPEG Compressor"));
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
  EXPECT_FALSE(answer_message_box(kCaption, IDOK, Timeout{500}, pid).has_value());

  // Back to no device: the title says so and the properties item is grayed.
  post_command(run.window, 9010);
  dialog = wait_dialog("Video Device Configuration", kDefaultTimeout, pid);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(select_line(dialog, 202, "<none>"));
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
  EXPECT_EQ(window_text(run.window), "Talvex Capture <none>");
  close_talvex(run);

  const auto words = config_words(folder);
  ASSERT_EQ(words.size(), 18u);
  EXPECT_EQ(words[3], "<none>");
  EXPECT_EQ(words[4], "<none>");  // no device: no compressor either
}

// "-g" on a device: every build saves the graph; Wine's graph has no persistent form, which
// is not the E_FAIL of "no graph", so nothing is logged.
TEST(Talvex, SaveGraphOption) {
  Cameras cameras;
  ASSERT_TRUE(cameras.registered());
  ScratchFolder folder;
  write_file(folder.file("Talvex.cfg"),
             "/* Don't edit by hand. Use Talvex to change. */\n"
             "1.4 -1 -1 Talvex_Still_Camera <none> 0 0 . 0 _ 21 _ _ _ 0 7.500000 30 >");
  TalvexRun run = start_talvex(folder, "-g");
  ASSERT_NE(run.window, nullptr);
  EXPECT_EQ(window_text(run.window), "Talvex Capture <Talvex Still Camera>");
  close_talvex(run);
  const std::string log = read_file(folder.file("Talvex.log"));
  EXPECT_EQ(log.find("(012)"), std::string::npos) << log;
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
  EXPECT_EQ(talvex.wait_exit(), 0u);
}

}  // namespace
}  // namespace talvex::e2e
