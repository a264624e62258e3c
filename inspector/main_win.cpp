// The inspector's entry point: options, video folder, COM, window, poller, message loop.
#include <objbase.h>
#include <windows.h>

#include "common/message_box_win.h"
#include "common/system_calls.h"
#include "common/window_win.h"
#include "inspector/command_line.h"
#include "inspector/inspector_messages.h"
#include "inspector/inspector_win.h"

namespace talvex {

Inspector& inspector() {
  static Inspector state;
  return state;
}

namespace {

constexpr char kWindowClass[] = "myWindowClass";
constexpr int kWindowWidth = 500;
constexpr int kWindowHeight = 560;
constexpr int kWindowTop = 10;

std::string current_folder() { return system_calls().current_directory(kVideoFolderLimit); }

int run(HINSTANCE instance, const char* arguments, int show) {
  Inspector& p = inspector();
  p.instance = instance;
  p.video_folder = current_folder();
  p.range = default_filter_range(system_calls().local_time());

  const InspectorOptions options = parse_command_line(arguments);
  // A relative folder is made absolute once, here: every later return to the video folder
  // (after a folder browser, a photo) must land where the start did.
  if (options.video_folder) {
    if (auto folder = absolute_folder(*options.video_folder)) p.video_folder = *folder;
  }
  if (options.window_title) p.window_title = *options.window_title;
  p.save_graph = options.save_graph;
  if (!::SetCurrentDirectoryA(p.video_folder.c_str())) p.video_folder = current_folder();

  if (::CoInitialize(nullptr) != S_OK) {
    message_box(nullptr, p.caption.c_str(), insp::kComInitFailed);
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
  window_class.lpszClassName = kWindowClass;
  if (!::RegisterClassExA(&window_class)) {
    message_box(nullptr, p.caption.c_str(), insp::kRegisterClassFailed);
    ::CoUninitialize();
    return 0;
  }
  p.main_window = ::CreateWindowExA(WS_EX_CLIENTEDGE, kWindowClass, p.window_title.c_str(),
                                    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                    centre_x(kWindowWidth), kWindowTop, kWindowWidth, kWindowHeight,
                                    nullptr, nullptr, instance, nullptr);
  if (!p.main_window) {
    message_box(nullptr, p.caption.c_str(), insp::kCreateWindowFailed);
    ::CoUninitialize();
    return 0;
  }
  create_controls(p);
  if (::ShowWindow(p.main_window, show)) {
    message_box(p.main_window, p.caption.c_str(), insp::kShowWindowFailed);
    ::CoUninitialize();
    return 0;
  }
  ::UpdateWindow(p.main_window);
  if (!start_poller(p)) message_box(p.main_window, p.caption.c_str(), insp::kPollerFailed);

  MSG message{};
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  ::CoUninitialize();
  return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}

}  // namespace
}  // namespace talvex

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int show) {
  return talvex::run(instance, arguments, show);
}
