// The capture program's entry point: settings, video folder, log, main window, devices,
// capture graph, capture thread, message loop; then the log's end.
#include <objbase.h>
#include <windows.h>

#include <cstring>

#include "app/capture_program_win.h"
#include "app/log.h"
#include "app/program_steps_win.h"
#include "app/talvex_messages.h"
#include "app/version.h"
#include "capture/avi_recovery.h"
#include "common/system_calls.h"
#include "common/window_win.h"

namespace talvex {
namespace {

constexpr int kWindowWidth = 349;
constexpr int kWindowHeight = 296;
constexpr int kCentredTop = 100;
constexpr std::size_t kFolderLimit = 99;

void apply_command_line(const char* arguments, Settings& settings) {
  if (arguments == nullptr) return;
  if (std::strcmp(arguments, "-g") == 0) {
    settings.save_graph = true;
  } else if (std::strcmp(arguments, "-l") == 0) {
    settings.write_device_list = true;
  } else if (std::strcmp(arguments, "-v") == 0) {
    ::MessageBoxA(nullptr, TALVEX_VERSION_TEXT, kProgramCaption, MB_OK);
  }
}

// The video folder when it can't be had in full: "." keeps the program where it is.
std::string current_folder() {
  std::string folder = system_calls().current_directory(kFolderLimit);
  return folder.empty() ? std::string(".") : folder;
}

int run(HINSTANCE instance, const char* arguments, int show) {
  // The log lives as long as this run: a start-up failure ends it without the end record,
  // and whatever logs after the run (the program state's destructors at exit) writes nothing.
  ProgramLog run_log;
  CaptureProgram& p = program();
  Settings& settings = p.settings;

  // 1-5.
  settings.video_folder = current_folder();
  settings.ftp_enabled = false;
  settings.set_ftp(FtpTexts{});
  p.instance = instance;
  apply_command_line(arguments, settings);

  // 6-11.
  int events_result = msg::kOk;
  const int read_result = read_settings(settings, &events_result);
  if (settings.compressor == kNoneName) settings.compression_enabled = false;
  const bool entered = enter_folder(settings.video_folder.c_str());
  log_open(kLogFileName);
  if (read_result != msg::kOk) log_message(read_result);
  if (events_result != msg::kOk) log_message(events_result);
  if (!entered) {
    settings.video_folder = current_folder();
    log_message(msg::kConfigFolderFailed);
  }

  // 12-15.
  if (::CoInitialize(nullptr) != S_OK) {
    log_message(msg::kComInitFailed);
    return 0;
  }
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = main_window_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hIconSm = ::LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
  window_class.lpszClassName = kMainWindowClass;
  if (!::RegisterClassExA(&window_class)) {
    log_message(msg::kRegisterClassFailed);
    ::CoUninitialize();
    return 0;
  }
  const bool centred = settings.window_x == -1 && settings.window_y == -1;
  p.main_window = ::CreateWindowExA(WS_EX_CLIENTEDGE, kMainWindowClass, kProgramCaption,
                                    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                    centred ? centre_x(kWindowWidth) : settings.window_x,
                                    centred ? kCentredTop : settings.window_y, kWindowWidth,
                                    kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!p.main_window) {
    log_message(msg::kCreateWindowFailed);
    ::CoUninitialize();
    return 0;
  }
  ::ShowWindow(p.main_window, show);
  ::UpdateWindow(p.main_window);

  // 16-17. Devices and compressors.
  {
    auto enumerator = make_device_enumerator();
    if (const int r = list_video_devices(*enumerator, p.device_names); r != msg::kOk) {
      log_message(r);
    }
    if (const int r = list_video_compressors(*enumerator, p.compressor_names); r != msg::kOk) {
      log_message(r);
    }
  }
  if (settings.write_device_list) write_list_file(p.device_names, p.compressor_names);

  // A recording that a crash cut short is saved before the graph's build rewrites the
  // temporary file.
  switch (recover_interrupted_recording().outcome) {
    case RecoveryReport::Outcome::kRecovered:
      log_message(msg::kRecordingRecovered);
      break;
    case RecoveryReport::Outcome::kKept:
      log_message(msg::kRecordingNotSaved);
      break;
    case RecoveryReport::Outcome::kNothing:
      break;
  }
  p.recorder.set_log(log_entry_written);

  // The clean-up of the video folder, from now on while the program runs.
  p.video_cleanup = std::make_unique<VideoCleanupThread>(
      []() -> std::unique_ptr<VideoFolder> {
        const std::string folder = system_calls().current_directory(MAX_PATH);
        if (folder.empty()) return nullptr;
        return make_video_folder(folder);
      },
      [] {
        const Settings& s = program().settings;
        CleanupRules rules;
        rules.keep_free_mb = s.keep_free_mb;
        rules.max_age_days = s.max_age_days;
        return rules;
      },
      [](int number) { log_message(number); });
  p.video_cleanup->start();

  // 18. The capture graph for the saved device and compressor.
  p.graph = make_capture_graph(settings, p.main_window, log_graph_message, &p.live_frames,
                               p.video_cleanup.get());
  const std::string device = settings.video_device.str();
  const std::string compressor = settings.compressor.str();
  if (const int r = build_capture_graph(device.c_str(), compressor.c_str()); r == msg::kOk) {
    set_window_title(settings.video_device.c_str());
    if (settings.video_device == kNoneName) {
      disable_video_properties();
    } else {
      enable_video_properties();
    }
  } else {
    log_message(r);
    disable_video_properties();
    release_capture_graph();
  }

  graph_chosen();
  ::SetTimer(p.main_window, kFrameWatchTimer, kFrameWatchPeriodMs, nullptr);

  // Each saved motion video runs the user's event command.
  p.recordings.on_motion_saved([](const std::string& video) {
    CaptureProgram& q = program();
    q.event_commands.run(q.settings.event_texts().on_event.view(), video, log_message);
  });
  if (const int r = apply_live_view(); r != msg::kOk) log_message(r);

  // 19-20. The capture thread, and continuous recording.
  p.steps = make_program_steps(p);
  p.capture_thread = std::make_unique<CaptureThread>(settings, *p.steps);
  if (const int r = p.capture_thread->start(); r != msg::kOk) log_message(r);
  if (settings.capture_video) start_recording();

  // 21-22.
  MSG message{};  // read below also when the first GetMessageA gave -1
  int quit_code = 0;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  if (message.message == WM_QUIT) quit_code = static_cast<int>(message.wParam);
  ::CoUninitialize();
  log_close();
  return quit_code;
}

}  // namespace
}  // namespace talvex

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int show) {
  return talvex::run(instance, arguments, show);
}
