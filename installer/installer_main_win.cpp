// Talvex_inst: the installer window with the agreement, its two buttons, the progress bar
// and the menu; "-u" leaves only the uninstall.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/message_box_win.h"
#include "common/message_catalogue.h"
#include "common/window_win.h"
#include "installer/agreement.h"
#include "installer/install_win.h"
#include "installer/installer_messages.h"
#include "installer/resource.h"

namespace talvex::inst {
namespace {

constexpr char kCaption[] = "Talvex Install";
constexpr char kWindowClass[] = "myWindowClass";
constexpr char kUninstallOption[] = "-u";
constexpr int kWindowWidth = 505;
constexpr int kWindowHeight = 425;
constexpr int kWindowY = 50;
constexpr DWORD kUninstallPauseMs = 2000;

struct InstallerState {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HWND progress = nullptr;
  bool agreement_disabled = false;
  const char* icon_file = nullptr;
};
InstallerState state;

// Shows the wait cursor while it lives and restores the previous one.
class WaitCursor {
 public:
  WaitCursor() : previous_(::SetCursor(::LoadCursorA(nullptr, IDC_WAIT))) {}
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  ~WaitCursor() { ::SetCursor(previous_); }

 private:
  HCURSOR previous_;
};

class File {
 public:
  explicit File(std::FILE* f) : f_(f) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (f_) std::fclose(f_);
  }
  std::FILE* get() const { return f_; }

 private:
  std::FILE* f_;
};

bool load_agreement(HWND control) {
  File file(std::fopen(kAgreementFile, "r"));
  if (!file.get()) return false;
  const std::string text = read_agreement(file.get());
  ::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return true;
}

HWND create_control(HWND parent, const char* window_class, const char* text, int x, int y,
                    int width, int height, int id, DWORD style = 0) {
  HWND control = ::CreateWindowExA(
      0, window_class, "", WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), state.instance, nullptr);
  if (text) ::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  return control;
}

void create_controls(HWND window, int width, int height) {
  create_control(window, "STATIC", "", 0, 0, width, height, 0);
  create_control(window, "STATIC", "Welcome to Talvex Install!", 24, 28, 280, 18, 0);
  create_control(window, "STATIC",
                 "Read the AGREEMENT below and, in case you agree, press the corresponding "
                 "button to install Talvex:",
                 24, 62, 450, 36, 0);
  create_control(window, "STATIC", "AGREEMENT:", 24, 122, 300, 18, 0);
  HWND agreement = create_control(window, "EDIT", nullptr, 24, 147, 450, 109, IDC_AGREEMENT,
                                  WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY);
  if (!load_agreement(agreement)) {
    message_box(window, kCaption, kExtractAllFiles);
    state.agreement_disabled = true;
  }
  const DWORD button_style = BS_DEFPUSHBUTTON | (state.agreement_disabled ? WS_DISABLED : 0);
  create_control(window, "BUTTON", "Agree", 240, 263, 110, 21, IDC_AGREE, button_style);
  create_control(window, "BUTTON", "Not agree", 363, 263, 110, 21, IDC_NOT_AGREE, button_style);
  create_control(window, "STATIC", "Status:", 24, 297, 300, 18, 0);
  ::InitCommonControls();
  state.progress = create_control(window, PROGRESS_CLASSA, nullptr, 24, 323, 450, 30, IDC_PROGRESS);
  ::SendMessageA(state.progress, PBM_SETPOS, 0, 0);
}

void create_menu(HWND window) {
  HMENU bar = ::CreateMenu();
  HMENU file = ::CreatePopupMenu();
  ::AppendMenuA(file, MF_STRING, IDM_EXIT, "&Exit");
  ::AppendMenuA(bar, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
  HMENU uninstall = ::CreatePopupMenu();
  ::AppendMenuA(uninstall, MF_STRING | (installation_record_exists() ? 0 : MF_GRAYED),
                IDM_UNINSTALL, "&Go...");
  ::AppendMenuA(bar, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(uninstall), "&Uninstall");
  HMENU help = ::CreatePopupMenu();
  ::AppendMenuA(help, MF_STRING, IDM_ABOUT, "&About...");
  ::AppendMenuA(bar, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
  ::SetMenu(window, bar);

  HANDLE icon = ::LoadImageA(nullptr, state.icon_file, IMAGE_ICON, 16, 16, LR_LOADFROMFILE);
  if (icon) ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

INT_PTR CALLBACK about_procedure(HWND dialog, UINT message, WPARAM w, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(w) == IDOK) ::EndDialog(dialog, 1);
      if (LOWORD(w) == IDCANCEL) ::EndDialog(dialog, 2);
      return FALSE;
  }
  return FALSE;
}

void on_agree(HWND window) {
  WaitCursor wait;
  char directory[kDirectoryBufferSize];
  const int result = install_files(directory);
  if (result != kOk) {
    message_box(window, kCaption, result);
    return;
  }
  char report[256];
  std::snprintf(report, sizeof report, "%s\nDir: %s", message_text(kInstallationCompleted),
                directory);
  ::MessageBoxA(window, report, kCaption, MB_OK);
  start_capture_program(directory);
  ::PostMessageA(window, WM_CLOSE, 0, 0);
}

void on_uninstall(HWND window) {
  if (::MessageBoxA(window, message_text(kUninstallWarning), kCaption,
                    MB_OKCANCEL | MB_DEFBUTTON2) != IDOK)
    return;
  WaitCursor wait;
  ::Sleep(kUninstallPauseMs);
  const int result = uninstall_files();
  if (result != kOk) {
    message_box(window, kCaption, result);
    return;
  }
  message_box(window, kCaption, kUninstallConcluded);
  ::PostMessageA(window, WM_CLOSE, 0, 0);
}

void on_command(HWND window, int id) {
  switch (id) {
    case IDC_AGREE:
      on_agree(window);
      break;
    case IDC_NOT_AGREE:
      if (::MessageBoxA(window, message_text(kQuitQuestion), kCaption,
                        MB_OKCANCEL | MB_DEFBUTTON2) == IDOK)
        ::PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case IDM_EXIT:
      ::PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case IDM_UNINSTALL:
      on_uninstall(window);
      break;
    case IDM_ABOUT:
      ::DialogBoxParamA(state.instance, MAKEINTRESOURCEA(IDD_ABOUT), window, about_procedure, 0);
      break;
    default:
      break;
  }
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_CREATE:
      create_menu(window);
      return 0;
    case WM_COMMAND:
      on_command(window, LOWORD(w));
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcA(window, message, w, l);
}

int run(HINSTANCE instance, const char* command_line, int show) {
  state.instance = instance;
  state.agreement_disabled = command_line && std::strcmp(command_line, kUninstallOption) == 0;
  state.icon_file = kIconFile;
  installer_environment().progress = [](int increment) {
    ::SendMessageA(state.progress, PBM_DELTAPOS, static_cast<WPARAM>(increment), 0);
  };

  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hIconSm = ::LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
  window_class.lpszClassName = kWindowClass;
  if (!::RegisterClassExA(&window_class)) {
    message_box(nullptr, kCaption, kRegisterClassFailed);
    return 0;
  }

  state.window =
      ::CreateWindowExA(WS_EX_CLIENTEDGE, kWindowClass, kCaption,
                        WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, centre_x(kWindowWidth), kWindowY,
                        kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!state.window) {
    message_box(nullptr, kCaption, kCreateWindowFailed);
    return 0;
  }
  create_controls(state.window, kWindowWidth, kWindowHeight);

  if (::ShowWindow(state.window, show)) {
    message_box(nullptr, kCaption, kShowWindowFailed);
    return 0;
  }
  ::UpdateWindow(state.window);
  MSG msg{};
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  // A loop ended by -1 has no quit code: 0, also when the first call failed.
  return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

}  // namespace
}  // namespace talvex::inst

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show) {
  return talvex::inst::run(instance, command_line, show);
}
