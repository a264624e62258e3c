// The main window: its menu, its title, and its destruction, which is the program's end.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/capture_program_win.h"
#include "app/log.h"
#include "app/resource.h"
#include "app/talvex_messages.h"
#include "capture/working_files.h"

namespace talvex {
namespace {

void build_menu(HWND window) {
  HMENU bar = ::CreateMenu();
  HMENU file = ::CreatePopupMenu();
  ::AppendMenuA(file, MF_STRING, IDM_EXIT, "&Exit");
  HMENU configure = ::CreatePopupMenu();
  ::AppendMenuA(configure, MF_STRING, IDM_CAPTURE, "&Capture...");
  ::AppendMenuA(configure, MF_STRING, IDM_MOTION_DETECTION, "&Motion Detection...");
  ::AppendMenuA(configure, MF_STRING, IDM_FTP, "&FTP...");
  ::AppendMenuA(configure, MF_STRING, IDM_VIDEO_DEVICE, "&Video Device...");
  ::AppendMenuA(configure, MF_STRING, IDM_COMPRESSOR, "C&ompressor...");
  ::AppendMenuA(configure, MF_STRING, IDM_VIDEO_PROPERTIES, "V&ideo Properties...");
  ::AppendMenuA(configure, MF_STRING, IDM_EVENTS_AND_STORAGE, "&Events and Storage...");
  HMENU help = ::CreatePopupMenu();
  ::AppendMenuA(help, MF_STRING, IDM_ABOUT, "&About...");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(configure), "&Configure");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
  program().configure_menu = configure;
  ::SetMenu(window, bar);
}

void set_small_icon(HWND window) {
  HANDLE icon = ::LoadImageA(nullptr, kIconFileName, IMAGE_ICON, 16, 16, LR_LOADFROMFILE);
  if (icon) ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void open_dialog(HWND window, int template_id, DLGPROC procedure) {
  ::DialogBoxParamA(program().instance, MAKEINTRESOURCEA(template_id), window, procedure, 0);
}

void on_command(HWND window, int command) {
  switch (command) {
    case IDM_EXIT:
      ::PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case IDM_CAPTURE:
      open_dialog(window, IDD_CAPTURE, capture_dialog);
      break;
    case IDM_MOTION_DETECTION:
      open_dialog(window, IDD_MOTION_DETECTION, motion_dialog);
      break;
    case IDM_FTP:
      open_dialog(window, IDD_FTP, ftp_dialog);
      break;
    case IDM_VIDEO_DEVICE:
      open_dialog(window, IDD_VIDEO_DEVICE, video_device_dialog);
      break;
    case IDM_COMPRESSOR:
      open_dialog(window, IDD_COMPRESSOR, compressor_dialog);
      break;
    case IDM_VIDEO_PROPERTIES:
      if (program().graph) program().graph->show_video_properties(window);
      break;
    case IDM_ABOUT:
      open_dialog(window, IDD_ABOUT, about_dialog);
      break;
    case IDM_EVENTS_AND_STORAGE:
      open_dialog(window, IDD_EVENTS_AND_STORAGE, events_and_storage_dialog);
      break;
    default:
      break;
  }
}

void on_destroy() {
  CaptureProgram& p = program();
  Settings& settings = p.settings;
  ::KillTimer(p.main_window, kFrameWatchTimer);
  // The live view's clients go first: none of them reads what the steps below let go.
  if (p.live_view) p.live_view->stop();
  // 1-3. Stop the graph, then save the settings as the user left them.
  if (!(settings.video_device == kNoneName) && p.graph) p.graph->stop();
  save_window_position();
  if (const int saved = write_settings(settings); saved != msg::kOk) log_message(saved);
  // 4-6. Quiet the passes, finish recordings, end the thread.
  settings.capture_frames = false;
  if (settings.capture_video.exchange(false)) stop_recording();
  settings.motion_enabled = false;
  settings.motion_recording = false;
  // Also a motion recording whose stop request is still on its way: it is finished here.
  stop_recording();
  // 7-8. The pass under way finishes; the thread is joined instead of a fixed wait. An
  // upload in flight is abandoned, not waited for.
  if (p.capture_thread) p.capture_thread->stop();
  p.capture_thread.reset();
  p.steps.reset();
  // 9-11.
  release_capture_graph();
  if (p.video_cleanup) p.video_cleanup->stop();
  for (const char* name : {kFrameFileNames[0], kFrameFileNames[1], kTempRecordingName}) {
    // A recording that could not be saved stays for the next start's recovery.
    if (name == kTempRecordingName && p.recorder.keeps_temporary_file()) continue;
    ::DeleteFileA(name);
  }
  ::PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_CREATE:
      build_menu(window);
      set_small_icon(window);
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_COMMAND:
      on_command(window, LOWORD(w));
      return 0;
    case WM_DESTROY:
      on_destroy();
      return 0;
    case kRecordingRequestMessage:
      handle_recording_request(w, l);
      return 0;
    case kGraphEventMessage:
      take_graph_events();
      return 0;
    case kRecordingSplitMessage:
      split_recording();
      return 0;
    case WM_TIMER:
      if (w == kFrameWatchTimer) watch_frames();
      return 0;
    default:
      return ::DefWindowProcA(window, message, w, l);
  }
}

void set_window_title(const char* device_name) {
  char title[100];
  if (std::strcmp(device_name, kNoneName) == 0) {
    std::snprintf(title, sizeof title, "%s %s", kProgramCaption, device_name);
  } else {
    std::snprintf(title, sizeof title, "%s <%s>", kProgramCaption, device_name);
  }
  ::SetWindowTextA(program().main_window, title);
}

void enable_video_properties() {
  ::EnableMenuItem(program().configure_menu, IDM_VIDEO_PROPERTIES, MF_BYCOMMAND | MF_ENABLED);
}

void disable_video_properties() {
  ::EnableMenuItem(program().configure_menu, IDM_VIDEO_PROPERTIES, MF_BYCOMMAND | MF_GRAYED);
}

bool save_window_position() {
  RECT rect;
  if (!::GetWindowRect(program().main_window, &rect)) return false;
  program().settings.window_x = rect.left;
  program().settings.window_y = rect.top;
  return true;
}

}  // namespace talvex
