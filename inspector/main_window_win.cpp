// The inspector's main window: its controls, menu and commands, the folder browser, the
// About box and the shutdown.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include "inspector/inspector_win.h"
#include "inspector/resource.h"

namespace talvex {
namespace {

// Design values to pixels of the client area: x × 1.5, y × 1.7, width × 2, height × 1.5,
// in single precision, truncated.
RECT design_rect(int x, int y, int w, int h) {
  return RECT{static_cast<LONG>(1.5f * static_cast<float>(x)),
              static_cast<LONG>(1.7f * static_cast<float>(y)),
              static_cast<LONG>(2.0f * static_cast<float>(w)),
              static_cast<LONG>(1.5f * static_cast<float>(h))};
}

// A child control at x, y with size right, bottom of `r` (left, top, width, height).
HWND make_child(Inspector& p, DWORD ex_style, const char* class_name, const char* text, DWORD style,
                const RECT& r, int id) {
  return ::CreateWindowExA(ex_style, class_name, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                           r.right, r.bottom, p.main_window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), p.instance, nullptr);
}

HWND make_button(Inspector& p, const char* text, const RECT& r, int id) {
  return make_child(p, 0, "BUTTON", text, BS_DEFPUSHBUTTON, r, id);
}

HICON load_small_icon(const Inspector& p) {
  return static_cast<HICON>(
      ::LoadImageA(nullptr, p.icon_file.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
}

void make_list_view(Inspector& p) {
  p.list_view = make_child(p, WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                           LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_HSCROLL | WS_VSCROLL,
                           design_rect(15, 50, 165, 100), IDC_VIDEO_LIST);
  ::SendMessageA(p.list_view, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
  HIMAGELIST images = ::ImageList_Create(::GetSystemMetrics(SM_CXSMICON),
                                         ::GetSystemMetrics(SM_CYSMICON), ILC_MASK, 1, 1);
  if (HICON icon = load_small_icon(p)) {
    ::ImageList_ReplaceIcon(images, -1, icon);
    ::DestroyIcon(icon);
  }
  ::SendMessageA(p.list_view, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
  struct Column {
    const char* title;
    int width;
    int format;
  } columns[] = {{"Start", 150, LVCFMT_CENTER},
                 {"End", 140, LVCFMT_CENTER},
                 {"Video Device", 140, LVCFMT_LEFT}};
  int index = 0;
  for (const Column& c : columns) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = c.format;
    column.cx = c.width;
    column.pszText = const_cast<char*>(c.title);
    column.iSubItem = index;
    ::SendMessageA(p.list_view, LVM_INSERTCOLUMNA, index++, reinterpret_cast<LPARAM>(&column));
  }
  fill_video_list(p);
}

void make_menu(HWND window) {
  HMENU bar = ::CreateMenu();
  HMENU file = ::CreatePopupMenu();
  ::AppendMenuA(file, MF_STRING, IDM_EXIT, "E&xit");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
  HMENU help = ::CreatePopupMenu();
  ::AppendMenuA(help, MF_STRING, IDM_ABOUT, "&About");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
  ::SetMenu(window, bar);
}

INT_PTR CALLBACK about_procedure(HWND dialog, UINT message, WPARAM w, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && LOWORD(w) == IDOK) {
    ::EndDialog(dialog, 1);
    return TRUE;
  }
  return FALSE;  // no other way out: not Esc, not a close box
}

int CALLBACK browser_callback(HWND browser, UINT message, LPARAM, LPARAM title) {
  if (message == BFFM_INITIALIZED) ::SetWindowTextA(browser, reinterpret_cast<const char*>(title));
  return 0;
}

// The shutdown: the poller is stopped and joined before playback is released.
void shut_down(Inspector& p) {
  stop_poller(p);
  close_playback(p);
  ::DeleteFileA(kPlaybackCopy);
  ::PostQuitMessage(0);
}

}  // namespace

std::string browse_for_folder(HWND owner, const char* text, const char* window_title) {
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.lpszTitle = text;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = browser_callback;
  info.lParam = reinterpret_cast<LPARAM>(window_title);
  LPITEMIDLIST chosen = ::SHBrowseForFolderA(&info);
  if (!chosen) return std::string();
  char path[MAX_PATH] = "";
  const BOOL ok = ::SHGetPathFromIDListA(chosen, path);
  ::CoTaskMemFree(chosen);
  return ok ? std::string(path) : std::string();
}

std::optional<std::string> absolute_folder(const std::string& folder) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  const bool drive_path = folder.size() >= 3 && folder[1] == ':' && separator(folder[2]);
  const bool unc_path = folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
  if (drive_path || unc_path) {
    if (folder.size() > kVideoFolderLimit) return std::nullopt;
    return folder;
  }
  char full[MAX_PATH] = "";
  const DWORD n = ::GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full || n > kVideoFolderLimit) return std::nullopt;
  return std::string(full, n);
}

void create_controls(Inspector& p) {
  make_child(p, 0, "STATIC", "", 0, RECT{0, 0, 500, 560}, 0);
  make_child(p, 0, "STATIC", "Video Folder:", 0, design_rect(15, 5, 156, 14), 0);
  p.folder_field = make_child(p, WS_EX_CLIENTEDGE, "EDIT", p.video_folder.c_str(),
                              WS_BORDER | ES_READONLY | ES_AUTOHSCROLL,
                              design_rect(25, 20, 156, 14), IDC_FOLDER_FIELD);
  make_button(p, "Browse...", design_rect(250, 20, 50, 14), IDC_BROWSE);
  ::InitCommonControls();
  make_list_view(p);
  make_button(p, "Filter...", design_rect(250, 50, 50, 14), IDC_FILTER);
  make_button(p, "Refresh", design_rect(250, 65, 50, 14), IDC_REFRESH);
  make_button(p, "Inspect", design_rect(250, 80, 50, 14), IDC_INSPECT);
  make_button(p, "Delete", design_rect(250, 112, 50, 14), IDC_DELETE);
  make_button(p, "Delete All", design_rect(250, 127, 50, 14), IDC_DELETE_ALL);
  const RECT label = design_rect(0, 0, 150, 12);
  p.time_label =
      make_child(p, 0, "STATIC", kEmptyFrameLabel, 0, RECT{30, 250, label.right, label.bottom}, 0);
  // The frame of the video area.
  HDC dc = ::GetDC(p.main_window);
  ::Rectangle(dc, 30, 270, 350, 510);
  ::ReleaseDC(p.main_window, dc);
  const RECT button = design_rect(250, 0, 50, 14);
  p.play_button =
      make_button(p, "II", RECT{button.left, 270, button.right, button.bottom}, IDC_PLAY);
  make_button(p, ">>", RECT{button.left, 291, button.right, button.bottom}, IDC_FORWARD);
  make_button(p, "<<", RECT{button.left, 312, button.right, button.bottom}, IDC_BACK);
  make_button(p, "Photo...", RECT{button.left, 338, button.right, button.bottom}, IDC_PHOTO);
}

void apply_chosen_folder(Inspector& p, const std::string& browsed) {
  if (browsed.empty()) {
    ::SetCurrentDirectoryA(p.video_folder.c_str());
    return;
  }
  // A path longer than the video folder holds is refused, as is one that can't be entered;
  // the field keeps showing the folder that is listed.
  const std::optional<std::string> chosen = absolute_folder(browsed);
  if (chosen && *chosen == p.video_folder.view()) return;
  if (!chosen || !::SetCurrentDirectoryA(chosen->c_str())) {
    ::SetCurrentDirectoryA(p.video_folder.c_str());
    return;
  }
  p.video_folder = *chosen;
  fill_video_list(p);
  ::SetWindowTextA(p.folder_field, p.video_folder.c_str());
}

void change_video_folder(Inspector& p) {
  WaitCursor wait;
  stop_playback(p);
  close_playback(p);
  ::DeleteFileA(kPlaybackCopy);
  set_time_label(p, kEmptyFrameLabel);
  apply_chosen_folder(p, browse_for_folder(p.main_window, "Select:", "Video Folder"));
}

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  Inspector& p = inspector();
  switch (message) {
    case WM_CREATE: {
      make_menu(window);
      if (HICON icon = load_small_icon(p))
        ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
      return 0;
    }
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      shut_down(p);
      return 0;
    case kPositionMessage:
      on_position(p, static_cast<std::uint32_t>(w), static_cast<std::int64_t>(l));
      return 0;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case IDM_EXIT:
          ::PostMessageA(window, WM_CLOSE, 0, 0);
          break;
        case IDM_ABOUT:
          ::DialogBoxParamA(p.instance, MAKEINTRESOURCEA(IDD_ABOUT), window, about_procedure, 0);
          break;
        case IDC_BROWSE:
          change_video_folder(p);
          break;
        case IDC_INSPECT:
          inspect_video(p);
          break;
        case IDC_DELETE:
          delete_video(p);
          break;
        case IDC_PLAY:
          toggle_playback(p);
          break;
        case IDC_FORWARD:
          seek_forward(p, 60);
          break;
        case IDC_BACK:
          seek_back(p, 60);
          break;
        case IDC_FILTER:
          show_filter_dialog(p);
          break;
        case IDC_PHOTO:
          take_photo(p);
          break;
        case IDC_REFRESH:
          refresh_videos(p);
          break;
        case IDC_DELETE_ALL:
          delete_all_videos(p);
          break;
        default:
          break;
      }
      return 0;
  }
  return ::DefWindowProcA(window, message, w, l);
}

}  // namespace talvex
