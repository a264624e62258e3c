// The settings dialogs: Capture, Motion Detection, FTP, Video Device, Compressor, About, and
// Events and Storage for the settings beyond the classic five.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <type_traits>

#include "app/capture_program_win.h"
#include "app/log.h"
#include "app/resource.h"
#include "app/talvex_messages.h"
#include "common/message_box_win.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr int kSliderMin = 1;
constexpr int kSliderMax = 20;
// The most characters of the capture dialog's folder edit that OK takes.
constexpr int kFolderEditLimit = 98;

// The wait cursor while an OK handler works.
class WaitCursor {
 public:
  WaitCursor() : previous_(::SetCursor(::LoadCursorA(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { ::SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};

bool checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void check(HWND dialog, int id, bool on) {
  ::CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

// At most `max_length` characters of an edit.
std::string edit_text(HWND dialog, int id, int max_length) {
  std::string text(static_cast<std::size_t>(max_length) + 1, '\0');
  const UINT n = ::GetDlgItemTextA(dialog, id, text.data(), max_length + 1);
  text.resize(n);
  return text;
}

// The value of an FTP edit, " " when it is empty.
std::string ftp_text(HWND dialog, int id, int max_length) {
  std::string text = edit_text(dialog, id, max_length);
  return text.empty() ? std::string(kEmptyFtpText) : text;
}

void show(HWND dialog, int number) { message_box(dialog, kProgramCaption, number); }

// The threshold <-> slider mapping: position 1 is 12.5, position 20 is 3.0.
int slider_position(float threshold) {
  const float position = 20.0f - (threshold - 3.0f) * 2.0f;
  if (!(position > kSliderMin)) return kSliderMin;  // also a threshold out of every range
  if (position > kSliderMax) return kSliderMax;
  return static_cast<int>(position);
}

float threshold_at(int position) { return static_cast<float>(20 - position) * 0.5f + 3.0f; }

int CALLBACK folder_browser_callback(HWND window, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED) ::SetWindowTextA(window, "Video Folder");
  return 1;
}

// The capture dialog's OK.
void capture_ok(HWND dialog) {
  Settings& s = program().settings;
  s.capture_frames = false;
  if (s.capture_video.exchange(false)) stop_recording();
  if (checked(dialog, IDC_CAPTURE_FRAMES)) s.capture_frames = true;
  if (checked(dialog, IDC_CAPTURE_VIDEO)) {
    if (s.motion_enabled.exchange(false) && s.motion_recording.exchange(false)) {
      stop_recording();
    }
    s.capture_video = true;
    start_recording();
  }
  // Browse can put a longer path into the edit than the folder holds. It is refused, not
  // cut: a cut path may name another folder that exists.
  const std::string folder = edit_text(dialog, IDC_VIDEO_FOLDER, kFolderEditLimit + 1);
  const bool fits = folder.size() <= static_cast<std::size_t>(kFolderEditLimit);
  if (const int saved = write_settings(s); saved != msg::kOk) log_message(saved);
  if (fits && enter_folder(folder.c_str())) {
    std::string now = system_calls().current_directory(99);
    s.video_folder = now.empty() ? std::string(".") : now;
    ::SetDlgItemTextA(dialog, IDC_VIDEO_FOLDER, s.video_folder.c_str());
  } else {
    show(dialog, msg::kOutputDirectoryFailed);
  }
}

void capture_browse(HWND dialog) {
  BROWSEINFOA info{};
  info.hwndOwner = dialog;
  info.lpszTitle = "Select:";
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = folder_browser_callback;
  if (LPITEMIDLIST chosen = ::SHBrowseForFolderA(&info)) {
    char path[MAX_PATH] = {};
    if (::SHGetPathFromIDListA(chosen, path)) ::SetDlgItemTextA(dialog, IDC_VIDEO_FOLDER, path);
    ::CoTaskMemFree(chosen);
  }
  enter_folder(program().settings.video_folder.c_str());
}

void motion_ok(HWND dialog) {
  Settings& s = program().settings;
  if (checked(dialog, IDC_MOTION_ENABLED)) {
    if (s.capture_video.exchange(false)) stop_recording();
    s.motion_enabled = true;
  } else if (s.motion_enabled.exchange(false) && s.motion_recording.exchange(false)) {
    stop_recording();
  }
  // Up to 510 digits: a number past the int range saturates.
  const std::string duration = edit_text(dialog, IDC_DURATION, 510);
  int value;
  if (scan_int(duration.c_str(), value)) s.motion_duration = value;
  const int position =
      static_cast<int>(::SendDlgItemMessageA(dialog, IDC_SENSITIVITY, TBM_GETPOS, 0, 0));
  s.motion_threshold = threshold_at(position);
}

void ftp_ok(HWND dialog) {
  Settings& s = program().settings;
  if (checked(dialog, IDC_FTP_ENABLED)) {
    s.ftp_enabled = true;
    s.capture_frames = true;
  } else {
    s.ftp_enabled = false;
  }
  FtpTexts ftp;
  ftp.server = ftp_text(dialog, IDC_FTP_SERVER, 48);
  // An empty or unreadable port is taken as 21, as a negative one is.
  const std::string port = edit_text(dialog, IDC_FTP_PORT, 8);
  int value = -1;
  if (!scan_int(port.c_str(), value)) value = -1;
  ftp.port = value < 0 ? 21 : value;
  ftp.user = ftp_text(dialog, IDC_FTP_USER, 28);
  ftp.password = ftp_text(dialog, IDC_FTP_PASSWORD, 28);
  ftp.destination = ftp_text(dialog, IDC_FTP_DESTINATION, 98);
  s.set_ftp(ftp);
}

template <typename Table>
void fill_list(HWND dialog, int list, const Table& table) {
  for (int i = 0; i < table.count(); ++i) {
    ::SendDlgItemMessageA(dialog, list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(table[i]));
  }
  ::SendDlgItemMessageA(dialog, list, LB_SETCURSEL, 0, 0);
}

void video_device_ok(HWND dialog) {
  CaptureProgram& p = program();
  PausedCapture paused;
  const LRESULT line = ::SendDlgItemMessageA(dialog, IDC_DEVICES, LB_GETCURSEL, 0, 0);
  if (line == LB_ERR || line >= p.device_names.count()) return;
  release_capture_graph();
  const std::string compressor = p.settings.compressor.str();
  const int r = build_capture_graph(p.device_names[static_cast<int>(line)], compressor.c_str());
  graph_chosen();
  if (r == msg::kOk) {
    set_window_title(p.settings.video_device.c_str());
    if (p.settings.video_device == kNoneName) {
      disable_video_properties();
    } else {
      enable_video_properties();
    }
  } else {
    show(dialog, r);
    log_message(r);
    disable_video_properties();
    release_capture_graph();
  }
}

void compressor_ok(HWND dialog) {
  CaptureProgram& p = program();
  PausedCapture paused;
  const LRESULT line = ::SendDlgItemMessageA(dialog, IDC_COMPRESSORS, LB_GETCURSEL, 0, 0);
  if (line == LB_ERR || line >= p.compressor_names.count()) return;
  const std::string chosen = p.compressor_names[static_cast<int>(line)];
  p.settings.compression_enabled = true;
  release_capture_graph();
  const std::string device = p.settings.video_device.str();
  const int r = build_capture_graph(device.c_str(), chosen.c_str());
  graph_chosen();
  if (r == msg::kOk) {
    ::SetDlgItemTextA(dialog, IDC_CURRENT_COMPRESSOR, p.settings.compressor.c_str());
    if (!(p.settings.compressor == chosen)) show(dialog, msg::kCompressorUnusable);
  } else {
    show(dialog, r);
    log_message(r);
    set_window_title(p.settings.video_device.c_str());
    disable_video_properties();
    ::SetDlgItemTextA(dialog, IDC_CURRENT_COMPRESSOR, p.settings.compressor.c_str());
    release_capture_graph();
  }
}

// The numbers of the Events and Storage dialog.
struct EventNumberField {
  int id;
  int largest;
  std::atomic<int> Settings::*field;
};
constexpr EventNumberField kEventNumberFields[] = {
    {IDC_PRE_EVENT, kPreEventLargest, &Settings::pre_event},
    {IDC_KEEP_FREE, kKeepFreeMbLargest, &Settings::keep_free_mb},
    {IDC_MAX_AGE, kMaxAgeDaysLargest, &Settings::max_age_days},
    {IDC_WARM_UP, kWarmUpLargest, &Settings::warm_up},
    {IDC_WEB_PORT, kWebPortLargest, &Settings::web_port},
};
// The texts' limits: one byte of each field is its terminator.
constexpr int kWebUserLimit = decltype(EventTexts::web_user)::kMaxLength;
constexpr int kWebPasswordLimit = 29;
constexpr int kOnEventLimit = decltype(EventTexts::on_event)::kMaxLength;

void set_number_text(HWND dialog, int id, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  ::SetDlgItemTextA(dialog, id, text);
}

// Puts the caret into a field the user has to mend.
void focus_field(HWND dialog, int id) {
  HWND field = ::GetDlgItem(dialog, id);
  ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
  ::SendMessageA(field, EM_SETSEL, 0, -1);
}

void events_open(HWND dialog) {
  const Settings& s = program().settings;
  for (const EventNumberField& f : kEventNumberFields) set_number_text(dialog, f.id, s.*f.field);
  check(dialog, IDC_LIGHT_FILTER, s.light_filter);
  const EventTexts texts = s.event_texts();
  ::SendDlgItemMessageA(dialog, IDC_WEB_USER, EM_LIMITTEXT, kWebUserLimit, 0);
  ::SendDlgItemMessageA(dialog, IDC_WEB_PASSWORD, EM_LIMITTEXT, kWebPasswordLimit, 0);
  ::SendDlgItemMessageA(dialog, IDC_ON_EVENT, EM_LIMITTEXT, kOnEventLimit, 0);
  ::SetDlgItemTextA(dialog, IDC_WEB_USER, texts.web_user.c_str());
  // The password field shows nothing of a stored password; left empty, it keeps it.
  ::SetDlgItemTextA(dialog, IDC_WEB_PASSWORD, "");
  ::SetDlgItemTextA(dialog, IDC_ON_EVENT, texts.on_event.c_str());
}

// The Events and Storage dialog's OK: nothing changes unless every field is good. A bad
// number is shown as 049 and its field gets its old value back; the dialog stays open.
bool events_ok(HWND dialog) {
  Settings& s = program().settings;
  int numbers[std::size(kEventNumberFields)];
  for (std::size_t i = 0; i < std::size(kEventNumberFields); ++i) {
    const EventNumberField& f = kEventNumberFields[i];
    if (!parse_setting_number(edit_text(dialog, f.id, 10), f.largest, numbers[i])) {
      show(dialog, msg::kInvalidSetting);
      set_number_text(dialog, f.id, s.*f.field);
      focus_field(dialog, f.id);
      return false;
    }
  }
  EventTexts texts = s.event_texts();
  const std::string user = edit_text(dialog, IDC_WEB_USER, kWebUserLimit);
  const std::string password = edit_text(dialog, IDC_WEB_PASSWORD, kWebPasswordLimit);
  if (!update_web_login(texts, user, password)) {
    // Another user name needs the password again: the stored one was made with the old.
    show(dialog, msg::kInvalidSetting);
    focus_field(dialog, IDC_WEB_PASSWORD);
    return false;
  }
  texts.on_event = edit_text(dialog, IDC_ON_EVENT, kOnEventLimit);
  for (std::size_t i = 0; i < std::size(kEventNumberFields); ++i) {
    s.*kEventNumberFields[i].field = numbers[i];
  }
  s.light_filter = checked(dialog, IDC_LIGHT_FILTER);
  s.set_event_texts(texts);
  if (const int saved = write_settings(s); saved != msg::kOk) log_message(saved);
  return true;
}

// The frame shared by the dialogs: TRUE for the initialisation and every command, OK and
// Cancel end the dialog, OK after its handler ran under the wait cursor. An OK handler that
// answers false keeps the dialog open.
template <void (*Open)(HWND), auto Ok, void (*Browse)(HWND) = nullptr>
INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM w, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Open(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case IDOK: {
          bool done = true;
          {
            WaitCursor wait;
            if constexpr (std::is_same_v<decltype(Ok(dialog)), bool>) {
              done = Ok(dialog);
            } else {
              Ok(dialog);
            }
          }
          if (done) ::EndDialog(dialog, IDOK);
          break;
        }
        case IDCANCEL:
          ::EndDialog(dialog, IDCANCEL);
          break;
        case IDC_BROWSE:
          // Only the Capture dialog has this button; in the others 106 means nothing.
          if constexpr (Browse != nullptr) Browse(dialog);
          break;
        default:
          break;
      }
      return TRUE;
    default:
      return FALSE;
  }
}

void capture_open(HWND dialog) {
  const Settings& s = program().settings;
  check(dialog, IDC_CAPTURE_FRAMES, s.capture_frames);
  check(dialog, IDC_CAPTURE_VIDEO, s.capture_video);
  ::SetDlgItemTextA(dialog, IDC_VIDEO_FOLDER, s.video_folder.c_str());
}

void motion_open(HWND dialog) {
  const Settings& s = program().settings;
  check(dialog, IDC_MOTION_ENABLED, s.motion_enabled);
  char duration[16];
  std::snprintf(duration, sizeof duration, "%d", s.motion_duration.load());
  ::SetDlgItemTextA(dialog, IDC_DURATION, duration);
  ::InitCommonControls();
  HWND slider = ::CreateWindowExA(
      0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_AUTOTICKS | TBS_ENABLESELRANGE, 120, 107,
      200, 30, dialog, reinterpret_cast<HMENU>(IDC_SENSITIVITY), program().instance, nullptr);
  ::SendMessageA(slider, TBM_SETRANGEMIN, TRUE, kSliderMin);
  ::SendMessageA(slider, TBM_SETRANGEMAX, TRUE, kSliderMax);
  ::SendMessageA(slider, TBM_SETPOS, TRUE, slider_position(s.motion_threshold));
}

void ftp_open(HWND dialog) {
  const Settings& s = program().settings;
  check(dialog, IDC_FTP_ENABLED, s.ftp_enabled);
  const FtpTexts ftp = s.ftp();
  auto set_unless_empty = [dialog](int id, std::string_view text) {
    if (text != kEmptyFtpText) ::SetDlgItemTextA(dialog, id, std::string(text).c_str());
  };
  set_unless_empty(IDC_FTP_SERVER, ftp.server.view());
  set_unless_empty(IDC_FTP_USER, ftp.user.view());
  set_unless_empty(IDC_FTP_PASSWORD, ftp.password.view());
  set_unless_empty(IDC_FTP_DESTINATION, ftp.destination.view());
  char port[16];
  std::snprintf(port, sizeof port, "%d", ftp.port < 0 ? 21 : ftp.port);
  ::SetDlgItemTextA(dialog, IDC_FTP_PORT, port);
}

void video_device_open(HWND dialog) { fill_list(dialog, IDC_DEVICES, program().device_names); }

void compressor_open(HWND dialog) {
  ::SetDlgItemTextA(dialog, IDC_CURRENT_COMPRESSOR, program().settings.compressor.c_str());
  fill_list(dialog, IDC_COMPRESSORS, program().compressor_names);
}

void nothing(HWND) {}

}  // namespace

INT_PTR CALLBACK capture_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  return dialog_procedure<capture_open, capture_ok, capture_browse>(d, m, w, l);
}
INT_PTR CALLBACK motion_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  return dialog_procedure<motion_open, motion_ok>(d, m, w, l);
}
INT_PTR CALLBACK ftp_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  return dialog_procedure<ftp_open, ftp_ok>(d, m, w, l);
}
INT_PTR CALLBACK video_device_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  return dialog_procedure<video_device_open, video_device_ok>(d, m, w, l);
}
INT_PTR CALLBACK compressor_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  return dialog_procedure<compressor_open, compressor_ok>(d, m, w, l);
}
INT_PTR CALLBACK events_and_storage_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  return dialog_procedure<events_open, events_ok>(d, m, w, l);
}
INT_PTR CALLBACK about_dialog(HWND d, UINT m, WPARAM w, LPARAM l) {
  // About has no OK handler: OK and Cancel only end it.
  return dialog_procedure<nothing, nothing>(d, m, w, l);
}

}  // namespace talvex
