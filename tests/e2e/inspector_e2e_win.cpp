// The inspector, whole: started on a folder of real AVIs, driven through its window, the
// Filter dialog, the folder browser and its message boxes.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/driver_win.h"
#include "tests/e2e/e2e_support_win.h"

namespace talvex::e2e {
namespace {

constexpr char kClass[] = "myWindowClass";
constexpr char kCaption[] = "Talvex Inspector";
constexpr char kEmptyLabel[] = "Date: ----:--:-- Time: --:--:--";
constexpr int kBrowse = 9014, kInspect = 9016, kDelete = 9017, kPlay = 9018, kForward = 9019,
              kBack = 9020, kFilter = 9021, kPhoto = 9022, kRefresh = 9023, kDeleteAll = 9024;

// The folder of AVIs made by ffmpeg (the test's argument, a Unix path seen through Z:).
std::string videos_folder() {
  std::string unix_path = __argv[__argc - 1];
  for (char& c : unix_path)
    if (c == '/') c = '\\';
  return "Z:" + unix_path;
}

struct Stamp {
  int y, mo, d, h, mi, s;
};

std::string two(int v) {
  char t[8];
  std::snprintf(t, sizeof t, "%02d", v);
  return t;
}

std::string stamp_text(const Stamp& t) {
  return std::to_string(t.y) + "-" + two(t.mo) + "-" + two(t.d) + "_" + two(t.h) + "-" + two(t.mi) +
         "-" + two(t.s);
}

std::string video_name(const Stamp& start, const Stamp& end, const std::string& device = "Camera") {
  return "Talvex_" + device + "_" + stamp_text(start) + "_" + stamp_text(end) + ".avi";
}

std::string row_text(const Stamp& t) {
  return std::to_string(t.y) + "-" + two(t.mo) + "-" + two(t.d) + " at " + two(t.h) + ":" +
         two(t.mi) + ":" + two(t.s);
}

std::string label_text(const Stamp& t) {
  return "Date: " + std::to_string(t.y) + "-" + two(t.mo) + "-" + two(t.d) + " Time: " + two(t.h) +
         ":" + two(t.mi) + ":" + two(t.s);
}

// Seconds from the label's date and time back to `start` (same day assumed).
int label_seconds_after(const std::string& label, const Stamp& start) {
  int y, mo, d, h, mi, s;
  if (std::sscanf(label.c_str(), "Date: %d-%d-%d Time: %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
    return -1;
  return ((d - start.d) * 86400) + (h - start.h) * 3600 + (mi - start.mi) * 60 + (s - start.s);
}

Stamp local_offset(int seconds) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  FILETIME ft;
  ::SystemTimeToFileTime(&now, &ft);
  ULARGE_INTEGER v{{ft.dwLowDateTime, ft.dwHighDateTime}};
  v.QuadPart += static_cast<LONGLONG>(seconds) * 10'000'000;
  ft = FILETIME{v.LowPart, v.HighPart};
  SYSTEMTIME t;
  ::FileTimeToSystemTime(&ft, &t);
  return Stamp{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void copy_video(const ScratchFolder& folder, const char* source, const std::string& name) {
  ASSERT_TRUE(
      ::CopyFileA((videos_folder() + "\\" + source).c_str(), folder.file(name).c_str(), FALSE))
      << name;
}

struct Inspector {
  Program program;
  HWND window = nullptr;
  HWND list = nullptr;
  HWND label = nullptr;
  HWND play = nullptr;

  std::string label_text() const { return window_text(label); }
  std::string row(int r, int column = 0) const { return list_view_text(list, r, column); }
  std::optional<std::string> answer(int button) {
    return answer_message_box(kCaption, button, kDefaultTimeout, program.pid());
  }
  void close() {
    post_command(window, 9001);
    EXPECT_EQ(program.wait_exit(), 0u);
  }
};

BOOL CALLBACK find_label(HWND child, LPARAM found) {
  char text[64];
  ::GetWindowTextA(child, text, sizeof text);
  if (std::string(text) == kEmptyLabel) *reinterpret_cast<HWND*>(found) = child;
  return TRUE;
}

Inspector start_inspector(const std::string& working_dir, const std::string& arguments) {
  Inspector run;
  run.program = Program::start(program_path("Talvex_insp.exe"), arguments, working_dir);
  if (!run.program.started()) return run;
  run.window = wait_window(kClass, nullptr, kDefaultTimeout, run.program.pid());
  if (!run.window) return run;
  wait_until([&] { return ::GetDlgItem(run.window, kPhoto) != nullptr; });  // the last control
  run.list = ::GetDlgItem(run.window, 9015);
  run.play = ::GetDlgItem(run.window, kPlay);
  ::EnumChildWindows(run.window, find_label, reinterpret_cast<LPARAM>(&run.label));
  return run;
}

SYSTEMTIME system_time(const Stamp& t) {
  SYSTEMTIME s{};
  s.wYear = static_cast<WORD>(t.y);
  s.wMonth = static_cast<WORD>(t.mo);
  s.wDay = static_cast<WORD>(t.d);
  s.wHour = static_cast<WORD>(t.h);
  s.wMinute = static_cast<WORD>(t.mi);
  s.wSecond = static_cast<WORD>(t.s);
  return s;
}

// The Filter dialog: both calendars and both time pickers set, then "Filter".
void set_filter(Inspector& run, const Stamp& lower, const Stamp& upper) {
  post_command(run.window, kFilter);
  HWND dialog = wait_dialog("Filter", kDefaultTimeout, run.program.pid());
  ASSERT_NE(dialog, nullptr);
  // The dialog may be found before it has made and set its controls (WM_INITDIALOG); it is
  // shown once that is done.
  HWND start_date = nullptr, end_date = nullptr, start_time = nullptr, end_time = nullptr;
  ASSERT_TRUE(wait_until([&] {
    if (!::IsWindowVisible(dialog)) return false;
    start_date = ::FindWindowExA(dialog, nullptr, "SysMonthCal32", nullptr);
    end_date = ::FindWindowExA(dialog, start_date, "SysMonthCal32", nullptr);
    start_time = ::FindWindowExA(dialog, nullptr, "SysDateTimePick32", nullptr);
    end_time = ::FindWindowExA(dialog, start_time, "SysDateTimePick32", nullptr);
    return start_date && end_date && start_time && end_time;
  }));
  SYSTEMTIME t = system_time(lower);
  send_with_remote_data(start_date, MCM_SETCURSEL, 0, &t, sizeof t);
  t = system_time(lower);
  send_with_remote_data(start_time, DTM_SETSYSTEMTIME, GDT_VALID, &t, sizeof t);
  t = system_time(upper);
  send_with_remote_data(end_date, MCM_SETCURSEL, 0, &t, sizeof t);
  t = system_time(upper);
  send_with_remote_data(end_time, DTM_SETSYSTEMTIME, GDT_VALID, &t, sizeof t);
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
}

// Answers the folder browser with `titled` by walking its tree to `path` (C:\a\b).
void choose_folder(Inspector& run, const char* titled, const std::string& path) {
  HWND dialog = wait_dialog(titled, kDefaultTimeout, run.program.pid());
  ASSERT_NE(dialog, nullptr);
  HWND tree = find_child(dialog, "SysTreeView32");
  ASSERT_NE(tree, nullptr);
  std::vector<std::string> items = {"Desktop", "My Computer", " (" + path.substr(0, 2) + ")"};
  for (std::size_t at = 3; at < path.size();) {
    const std::size_t next = path.find('\\', at);
    items.push_back(path.substr(at, next - at));
    at = next == std::string::npos ? path.size() : next + 1;
  }
  ASSERT_TRUE(select_tree_path(tree, items)) << path;
  click(dialog, IDOK);
  ASSERT_TRUE(wait_gone(dialog));
}

const Stamp kA{2006, 3, 7, 9, 5, 0}, kAEnd{2006, 3, 7, 9, 8, 0};
const Stamp kB{2006, 3, 7, 23, 59, 30}, kBEnd{2006, 3, 8, 0, 2, 30};  // over midnight
const Stamp kC{2006, 3, 8, 10, 0, 0}, kCEnd{2006, 3, 8, 10, 3, 0};
const Stamp kOld{2006, 3, 6, 10, 0, 0}, kOldEnd{2006, 3, 6, 10, 3, 0};
const Stamp kLower{2006, 3, 7, 0, 0, 0}, kUpper{2006, 3, 8, 23, 59, 59};

TEST(Inspector, ListsVideosInRangeNewestFirstAndSkipsOddNames) {
  ScratchFolder folder, elsewhere;
  const Stamp recent = local_offset(-120), recent_end = local_offset(-90);
  const Stamp future = local_offset(3600), future_end = local_offset(3630);
  copy_video(folder, "short.avi", video_name(recent, recent_end, "USB-Video-Cam"));
  copy_video(folder, "short.avi", video_name(future, future_end));
  copy_video(folder, "short.avi", video_name(kA, kAEnd));
  copy_video(folder, "short.avi", video_name(kB, kBEnd));
  copy_video(folder, "short.avi", video_name(kC, kCEnd));
  copy_video(folder, "short.avi", video_name(kOld, kOldEnd));
  for (const char* odd : {"Talvex_tmp.avi", "Talvex_insp.avi", "Talvex_Camera_short.avi",
                          "Talvex_Camera_2006-13-07_09-05-00_2006-13-07_09-08-00.avi",
                          "Talvex_Camera_2006-03-32_09-05-00_2006-03-32_09-08-00.avi",
                          "Talvex_Camera_20x6-03-07_09-05-00_2006-03-07_09-08-00.avi"})
    write_file(folder.file(odd), "not a video");
  write_file(folder.file(video_name(kA, kAEnd, std::string(90, 'C'))), "too long a name");

  Inspector run = start_inspector(elsewhere.path(), "-o" + folder.path() + " -tGate");
  ASSERT_NE(run.window, nullptr);
  ASSERT_NE(run.label, nullptr);
  EXPECT_EQ(window_text(run.window), "Talvex Inspector - Gate");
  RECT rect;
  ::GetWindowRect(run.window, &rect);
  EXPECT_EQ(rect.left, centred_x(500));
  EXPECT_EQ(rect.top, 10);
  EXPECT_EQ(rect.right - rect.left, 500);
  EXPECT_EQ(rect.bottom - rect.top, 560);
  // The folder value ends at the next option, so it carries the blank before "-t".
  EXPECT_EQ(control_text(run.window, 9013), folder.path() + " ");

  // The default range runs from New Year to the start: only the recent video.
  ASSERT_EQ(list_view_count(run.list), 1);
  EXPECT_EQ(run.row(0), row_text(recent));
  EXPECT_EQ(run.row(0, 2), "USB Video Cam");

  set_filter(run, kLower, kUpper);
  ASSERT_EQ(list_view_count(run.list), 3);
  EXPECT_EQ(run.row(0), row_text(kC));
  EXPECT_EQ(run.row(1), row_text(kB));
  EXPECT_EQ(run.row(1, 1), row_text(kBEnd));
  EXPECT_EQ(run.row(2), row_text(kA));
  EXPECT_EQ(run.row(2, 2), "Camera");

  // A narrower range: only the video over midnight reaches into 8 March before 10:00.
  set_filter(run, Stamp{2006, 3, 8, 0, 0, 0}, Stamp{2006, 3, 8, 9, 59, 59});
  ASSERT_EQ(list_view_count(run.list), 1);
  EXPECT_EQ(run.row(0), row_text(kB));

  // Refresh keeps the range and picks up a new video in it.
  copy_video(folder, "short.avi", video_name({2006, 3, 8, 9, 0, 0}, {2006, 3, 8, 9, 3, 0}));
  post_command(run.window, kRefresh);
  EXPECT_TRUE(wait_until([&] { return list_view_count(run.list) == 2; }));

  // About: only OK closes it.
  post_command(run.window, 9012);
  HWND about = wait_dialog("About", kDefaultTimeout, run.program.pid());
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(control_text(about, 302), "Talvex Inspector v1.3.7");
  ::PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
  ::PostMessageA(about, WM_CLOSE, 0, 0);
  ::Sleep(300);
  EXPECT_TRUE(::IsWindow(about));
  click(about, IDOK);
  EXPECT_TRUE(wait_gone(about));
  run.close();
}

TEST(Inspector, DeleteAndDeleteAllAskFirst) {
  ScratchFolder folder;
  copy_video(folder, "short.avi", video_name(kA, kAEnd));
  copy_video(folder, "short.avi", video_name(kB, kBEnd));
  copy_video(folder, "short.avi", video_name(kC, kCEnd));
  copy_video(folder, "short.avi", video_name(kOld, kOldEnd));
  Inspector run = start_inspector(folder.path(), "");
  ASSERT_NE(run.window, nullptr);
  set_filter(run, kLower, kUpper);
  ASSERT_TRUE(wait_until([&] { return list_view_count(run.list) == 3; }));

  post_command(run.window, kDelete);
  EXPECT_EQ(run.answer(IDOK), "Select a video first.");

  select_list_view_row(run.list, 0);  // kC, the newest
  post_command(run.window, kDelete);
  EXPECT_EQ(run.answer(IDCANCEL), "Do you really want to delete this video?");
  ::Sleep(200);
  EXPECT_TRUE(file_exists(folder.file(video_name(kC, kCEnd))));
  post_command(run.window, kDelete);
  EXPECT_EQ(run.answer(IDOK), "Do you really want to delete this video?");
  EXPECT_EQ(run.answer(IDOK), "Video deleted.");
  EXPECT_FALSE(file_exists(folder.file(video_name(kC, kCEnd))));
  EXPECT_TRUE(wait_until([&] { return list_view_count(run.list) == 2; }))
      << list_view_count(run.list);

  post_command(run.window, kDeleteAll);
  EXPECT_EQ(run.answer(IDCANCEL), "Do you really want to delete ALL listed videos?");
  ::Sleep(200);
  EXPECT_TRUE(wait_until([&] { return list_view_count(run.list) == 2; }))
      << list_view_count(run.list);
  post_command(run.window, kDeleteAll);
  EXPECT_EQ(run.answer(IDOK), "Do you really want to delete ALL listed videos?");
  EXPECT_EQ(run.answer(IDOK), "Videos deleted.");
  EXPECT_TRUE(wait_until([&] { return list_view_count(run.list) == 0; }))
      << list_view_count(run.list);
  EXPECT_FALSE(file_exists(folder.file(video_name(kA, kAEnd))));
  EXPECT_TRUE(file_exists(folder.file(video_name(kOld, kOldEnd))));  // never listed
  // With nothing listed, Delete All asks nothing.
  post_command(run.window, kDeleteAll);
  EXPECT_FALSE(answer_message_box(kCaption, IDOK, Timeout{1000}, run.program.pid()));
  run.close();
}

TEST(Inspector, PlaysWithTheFrameTimeJumpsAndTakesAPhoto) {
  ScratchFolder folder, photos;
  copy_video(folder, "long.avi", video_name(kA, kAEnd));
  write_file(folder.file(video_name(kC, kCEnd)), std::string(4096, 'x'));  // can't be played
  Inspector run = start_inspector(folder.path(), "-g");
  ASSERT_NE(run.window, nullptr);
  set_filter(run, kLower, kUpper);
  ASSERT_EQ(list_view_count(run.list), 2);

  post_command(run.window, kInspect);
  EXPECT_EQ(run.answer(IDOK), "Select a video first.");
  post_command(run.window, kPhoto);
  EXPECT_EQ(run.answer(IDOK), "Unable to capture photo. (024)");

  // A file that is no video: it says so, and the inspector goes on.
  select_list_view_row(run.list, 0);
  post_command(run.window, kInspect);
  EXPECT_EQ(run.answer(IDOK), "Unable to inspect the selected video. (021)");
  ASSERT_TRUE(::IsWindow(run.window));

  select_list_view_row(run.list, 1);
  post_command(run.window, kInspect);
  ASSERT_TRUE(wait_until([&] { return run.label_text() != kEmptyLabel; })) << run.label_text();
  EXPECT_EQ(window_text(run.play), "II");
  const int first = label_seconds_after(run.label_text(), kA);
  EXPECT_GE(first, 0) << run.label_text();
  EXPECT_LE(first, 5) << run.label_text();
  EXPECT_TRUE(wait_until([&] { return label_seconds_after(run.label_text(), kA) >= first + 2; }))
      << run.label_text();
  EXPECT_TRUE(file_exists(folder.file("Talvex_insp.avi")));

  post_command(run.window, kForward);
  EXPECT_TRUE(wait_until([&] { return label_seconds_after(run.label_text(), kA) >= 60; }))
      << run.label_text();
  post_command(run.window, kBack);
  EXPECT_TRUE(wait_until([&] { return label_seconds_after(run.label_text(), kA) < 30; }))
      << run.label_text();

  // Stopped, the jumps do nothing.
  post_command(run.window, kPlay);
  EXPECT_TRUE(wait_until([&] { return window_text(run.play) == ">"; }));
  ::Sleep(1000);
  const std::string stopped_at = run.label_text();
  post_command(run.window, kForward);
  ::Sleep(2000);
  EXPECT_EQ(run.label_text(), stopped_at);
  post_command(run.window, kPlay);
  EXPECT_TRUE(wait_until([&] { return window_text(run.play) == "II"; }));
  ::Sleep(1000);

  // The photo: the frame on screen, named after its date and time.
  const int shown = label_seconds_after(run.label_text(), kA);
  post_command(run.window, kPhoto);
  choose_folder(run, "Photo", photos.path());
  EXPECT_EQ(run.answer(IDOK), "Photo saved.");
  WIN32_FIND_DATAA found;
  HANDLE find = ::FindFirstFileA(photos.file("*.bmp").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  ::FindClose(find);
  const std::string name = found.cFileName;
  int y, mo, d, h, mi, sec;
  ASSERT_EQ(std::sscanf(name.c_str(), "%4d-%2d-%2d_%2d-%2d-%2d.bmp", &y, &mo, &d, &h, &mi, &sec), 6)
      << name;
  EXPECT_EQ(name.size(), std::string("2006-03-07_09-05-00.bmp").size()) << name;
  const int named = label_seconds_after(label_text(Stamp{y, mo, d, h, mi, sec}), kA);
  EXPECT_TRUE(named == shown || named == shown + 1) << name << " shown at +" << shown;
  const std::string photo = read_file(photos.file(name));
  // The grabber asks for frames at the screen's depth: 230,454 bytes at 24 bits.
  HDC screen = ::GetDC(nullptr);
  const int bits = ::GetDeviceCaps(screen, BITSPIXEL);
  ::ReleaseDC(nullptr, screen);
  ASSERT_EQ(photo.size(), 54u + 320u * 240u * static_cast<unsigned>(bits) / 8) << name;
  EXPECT_EQ(photo.substr(0, 2), "BM");
  EXPECT_EQ(*reinterpret_cast<const std::int32_t*>(photo.data() + 2),
            static_cast<std::int32_t>(photo.size()));
  EXPECT_EQ(*reinterpret_cast<const std::int32_t*>(photo.data() + 10), 54);
  EXPECT_EQ(*reinterpret_cast<const std::int32_t*>(photo.data() + 18), 320);
  EXPECT_EQ(*reinterpret_cast<const std::int32_t*>(photo.data() + 22), 240);
  EXPECT_EQ(*reinterpret_cast<const std::int16_t*>(photo.data() + 28), bits);
  // Not a blank frame: the test picture has many colours.
  EXPECT_NE(photo.find_first_not_of(photo[100], 54), std::string::npos);
  EXPECT_EQ(window_text(run.play), "II");  // playing again after the photo

  run.close();
  EXPECT_FALSE(file_exists(folder.file("Talvex_insp.avi")));
}

// A video that the capture program recovered after it was killed (the folder comes from
// the recovery test, which runs this one test): listed, played, and 60 s jumps work in it.
TEST(InspectorRecovered, ListsPlaysAndSeeksTheRecoveredVideo) {
  const char* folder = std::getenv("TALVEX_RECOVERED_FOLDER");
  if (!folder) GTEST_SKIP() << "run by recovery_e2e.py";
  Inspector run = start_inspector(folder, "");
  ASSERT_NE(run.window, nullptr);
  ASSERT_TRUE(wait_until([&] { return list_view_count(run.list) == 1; }));
  const std::string row = run.row(0);
  int y, mo, d, h, mi, sec;
  ASSERT_EQ(std::sscanf(row.c_str(), "%d-%d-%d at %d:%d:%d", &y, &mo, &d, &h, &mi, &sec), 6) << row;
  const Stamp start{y, mo, d, h, mi, sec};
  EXPECT_EQ(run.row(0, 2), "Camera");
  select_list_view_row(run.list, 0);
  post_command(run.window, kInspect);
  ASSERT_TRUE(wait_until([&] { return run.label_text() != kEmptyLabel; })) << run.label_text();
  const int first = label_seconds_after(run.label_text(), start);
  EXPECT_GE(first, 0) << run.label_text();
  EXPECT_LE(first, 5) << run.label_text();
  post_command(run.window, kForward);
  EXPECT_TRUE(wait_until([&] { return label_seconds_after(run.label_text(), start) >= 60; }))
      << run.label_text();
  post_command(run.window, kBack);
  EXPECT_TRUE(wait_until([&] { return label_seconds_after(run.label_text(), start) < 30; }))
      << run.label_text();
  run.close();
}

TEST(Inspector, StopsAtTheEndWithTheButtonStillReadingPause) {
  ScratchFolder folder;
  copy_video(folder, "short.avi", video_name(kA, kAEnd));
  Inspector run = start_inspector(folder.path(), "");
  ASSERT_NE(run.window, nullptr);
  set_filter(run, kLower, kUpper);
  ASSERT_EQ(list_view_count(run.list), 1);
  select_list_view_row(run.list, 0);
  post_command(run.window, kInspect);
  ASSERT_TRUE(wait_until([&] { return label_seconds_after(run.label_text(), kA) >= 4; }))
      << run.label_text();
  // Stopped at the end: the time goes no further (Wine's Stop also rewinds to the start,
  // where Windows stays at the end), and the button still reads "II".
  for (int i = 0; i < 4; ++i) {
    ::Sleep(500);
    const int seconds = label_seconds_after(run.label_text(), kA);
    EXPECT_TRUE(seconds == 4 || seconds == 0) << run.label_text();
  }
  EXPECT_EQ(window_text(run.play), "II");
  post_command(run.window, kPlay);
  EXPECT_TRUE(wait_until([&] { return window_text(run.play) == ">"; }));
  run.close();
}

// "-ocams" is the folder cams of the start directory, for the whole run: returning to the
// video folder after a cancelled folder browser must not go on into an existing cams\cams.
TEST(Inspector, RelativeFolderStaysWhereItWasFound) {
  ScratchFolder start;
  const std::string cams = start.file("cams"), inner = cams + "\\cams";
  ASSERT_TRUE(::CreateDirectoryA(cams.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA(inner.c_str(), nullptr));
  const std::string outer_video = video_name(kA, kAEnd), inner_video = video_name(kC, kCEnd);
  ASSERT_TRUE(::CopyFileA((videos_folder() + "\\short.avi").c_str(),
                          (cams + "\\" + outer_video).c_str(), FALSE));
  ASSERT_TRUE(::CopyFileA((videos_folder() + "\\short.avi").c_str(),
                          (inner + "\\" + inner_video).c_str(), FALSE));
  Inspector run = start_inspector(start.path(), "-ocams");
  ASSERT_NE(run.window, nullptr);
  EXPECT_EQ(control_text(run.window, 9013), cams);
  set_filter(run, kLower, kUpper);
  ASSERT_EQ(list_view_count(run.list), 1);
  EXPECT_EQ(run.row(0), row_text(kA));

  for (int round = 0; round < 2; ++round) {
    post_command(run.window, kBrowse);
    HWND browser = wait_dialog("Video Folder", kDefaultTimeout, run.program.pid());
    ASSERT_NE(browser, nullptr);
    click(browser, IDCANCEL);
    ASSERT_TRUE(wait_gone(browser));
    ::SendMessageA(run.window, WM_COMMAND, kRefresh, 0);  // no message box: sent, and done
    ASSERT_EQ(list_view_count(run.list), 1) << round;
    EXPECT_EQ(run.row(0), row_text(kA)) << round;
  }
  select_list_view_row(run.list, 0);
  post_command(run.window, kDelete);
  EXPECT_EQ(run.answer(IDOK), "Do you really want to delete this video?");
  EXPECT_EQ(run.answer(IDOK), "Video deleted.");
  EXPECT_FALSE(file_exists(cams + "\\" + outer_video));
  EXPECT_TRUE(file_exists(inner + "\\" + inner_video));
  run.close();
}

TEST(Inspector, BrowseChangesTheVideoFolder) {
  ScratchFolder first, second;
  copy_video(second, "short.avi", video_name(kA, kAEnd));
  copy_video(second, "short.avi", video_name(kB, kBEnd));
  Inspector run = start_inspector(first.path(), "");
  ASSERT_NE(run.window, nullptr);
  set_filter(run, kLower, kUpper);
  EXPECT_EQ(list_view_count(run.list), 0);

  post_command(run.window, kBrowse);
  HWND browser = wait_dialog("Video Folder", kDefaultTimeout, run.program.pid());
  ASSERT_NE(browser, nullptr);
  click(browser, IDCANCEL);
  ASSERT_TRUE(wait_gone(browser));
  EXPECT_EQ(control_text(run.window, 9013), first.path());

  post_command(run.window, kBrowse);
  choose_folder(run, "Video Folder", second.path());
  EXPECT_TRUE(wait_until([&] { return control_text(run.window, 9013) == second.path(); }))
      << control_text(run.window, 9013);
  EXPECT_EQ(list_view_count(run.list), 2);  // listed with the range of the Filter
  EXPECT_EQ(run.row(0), row_text(kB));
  run.close();
}

}  // namespace
}  // namespace talvex::e2e
