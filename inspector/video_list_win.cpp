// The video list on the window: the folder scan into the list view, the selected row,
// Delete, Delete All, Refresh and the Filter dialog.
#include <windows.h>

#include <commctrl.h>

#include "common/find_handle_win.h"
#include "common/message_box_win.h"
#include "common/message_catalogue.h"
#include "inspector/inspector_messages.h"
#include "inspector/inspector_win.h"
#include "inspector/resource.h"

namespace talvex {
namespace {

// The names matching the video pattern in the working directory, in the order the file
// system gives them.
std::vector<std::string> video_file_names() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  FindHandle find(::FindFirstFileA(kVideoPattern, &data));
  if (find.get() == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(data.cFileName);
  } while (::FindNextFileA(find.get(), &data));
  return names;
}

bool add_list_row(HWND list, int slot, const RowTexts& texts) {
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = slot;
  item.pszText = const_cast<char*>(texts.start.c_str());
  item.iImage = 0;
  item.lParam = slot;
  const int row =
      static_cast<int>(::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return false;
  LVITEMA column{};
  column.mask = LVIF_TEXT;
  column.iItem = row;
  column.iSubItem = 1;
  column.pszText = const_cast<char*>(texts.end.c_str());
  ::SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&column));
  column.iSubItem = 2;
  column.pszText = const_cast<char*>(texts.device.c_str());
  ::SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&column));
  return true;
}

int CALLBACK compare_rows(LPARAM a, LPARAM b, LPARAM table) {
  return reinterpret_cast<const VideoTable*>(table)->compare_start_times(static_cast<int>(a),
                                                                         static_cast<int>(b));
}

bool confirm(const Inspector& p, int number) {
  return ::MessageBoxA(p.main_window, message_text(number), p.caption.c_str(),
                       MB_OKCANCEL | MB_DEFBUTTON2) == IDOK;
}

void to_systemtime(const CalendarTime& c, SYSTEMTIME& t) {
  t = SYSTEMTIME{};
  t.wYear = static_cast<WORD>(c.year);
  t.wMonth = static_cast<WORD>(c.month);
  t.wDay = static_cast<WORD>(c.day);
  t.wHour = static_cast<WORD>(c.hour);
  t.wMinute = static_cast<WORD>(c.minute);
  t.wSecond = static_cast<WORD>(c.second);
}

CalendarTime from_systemtime(const SYSTEMTIME& t) {
  return CalendarTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, 0};
}

// The filter dialog's four controls, made at run time.
struct FilterControls {
  HWND start_date, start_time, end_date, end_time;
};

HWND make_control(HWND dialog, const char* class_name, DWORD style, int x, int y, int w, int h) {
  return ::CreateWindowExA(0, class_name, "", WS_VISIBLE | WS_CHILD | WS_BORDER | style, x, y, w, h,
                           dialog, nullptr, inspector().instance, nullptr);
}

INT_PTR CALLBACK filter_dialog_procedure(HWND dialog, UINT message, WPARAM w, LPARAM) {
  static FilterControls controls;
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_DATE_CLASSES};
  ::InitCommonControlsEx(&classes);
  Inspector& p = inspector();
  switch (message) {
    case WM_INITDIALOG: {
      SYSTEMTIME t;
      controls.start_date = make_control(dialog, MONTHCAL_CLASSA, 0, 84, 78, 192, 155);
      to_systemtime(p.range.start_date, t);
      ::SendMessageA(controls.start_date, MCM_SETCURSEL, 0, reinterpret_cast<LPARAM>(&t));
      controls.start_time =
          make_control(dialog, DATETIMEPICK_CLASSA, DTS_TIMEFORMAT, 84, 245, 100, 25);
      to_systemtime(p.range.lower(), t);
      ::SendMessageA(controls.start_time, DTM_SETSYSTEMTIME, GDT_VALID,
                     reinterpret_cast<LPARAM>(&t));
      controls.end_date = make_control(dialog, MONTHCAL_CLASSA, 0, 363, 78, 192, 155);
      to_systemtime(p.range.end_date, t);
      ::SendMessageA(controls.end_date, MCM_SETCURSEL, 0, reinterpret_cast<LPARAM>(&t));
      controls.end_time =
          make_control(dialog, DATETIMEPICK_CLASSA, DTS_TIMEFORMAT, 363, 245, 100, 25);
      to_systemtime(p.range.upper(), t);
      ::SendMessageA(controls.end_time, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&t));
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case IDOK: {
          WaitCursor wait;
          SYSTEMTIME t{};
          ::SendMessageA(controls.start_date, MCM_GETCURSEL, 0, reinterpret_cast<LPARAM>(&t));
          p.range.start_date = from_systemtime(t);
          ::SendMessageA(controls.start_time, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t));
          p.range.start_time = from_systemtime(t);
          ::SendMessageA(controls.end_date, MCM_GETCURSEL, 0, reinterpret_cast<LPARAM>(&t));
          p.range.end_date = from_systemtime(t);
          ::SendMessageA(controls.end_time, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t));
          p.range.end_time = from_systemtime(t);
          p.table.inspected_slot = -1;
          fill_video_list(p);
          ::EndDialog(dialog, 1);
          return TRUE;
        }
        case IDCANCEL:
          ::EndDialog(dialog, 2);
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      ::EndDialog(dialog, 2);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void fill_video_list(Inspector& p) {
  ::SendMessageA(p.list_view, LVM_DELETEALLITEMS, 0, 0);
  const std::vector<std::string> names = video_file_names();
  p.table.fill(names, p.range, [&](int slot, const RowTexts& texts) {
    return add_list_row(p.list_view, slot, texts);
  });
  ::SendMessageA(p.list_view, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&p.table),
                 reinterpret_cast<LPARAM>(compare_rows));
}

int selected_slot(const Inspector& p) {
  for (int row = 0; row < p.table.listed_count; ++row) {
    if (::SendMessageA(p.list_view, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) {
      LVITEMA item{};
      item.mask = LVIF_PARAM;
      item.iItem = row;
      if (!::SendMessageA(p.list_view, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
      const int slot = static_cast<int>(item.lParam);
      return slot >= 0 && slot < p.table.listed_count ? slot : -1;
    }
  }
  return -1;
}

void delete_video(Inspector& p) {
  const int slot = selected_slot(p);
  if (slot == -1) {
    message_box(p.main_window, p.caption.c_str(), insp::kSelectVideoToDelete);
    return;
  }
  if (!confirm(p, insp::kConfirmDelete)) return;
  if (!::DeleteFileA(p.table.slots[slot].file_name.c_str())) {
    message_box(p.main_window, p.caption.c_str(), insp::kDeleteFailed);
    return;
  }
  p.table.inspected_slot = -1;
  fill_video_list(p);
  message_box(p.main_window, p.caption.c_str(), insp::kVideoDeleted);
}

void delete_all_videos(Inspector& p) {
  if (p.table.listed_count == 0) return;
  if (!confirm(p, insp::kConfirmDeleteAll)) return;
  {
    WaitCursor wait;
    for (int slot = 0; slot < p.table.listed_count; ++slot)
      ::DeleteFileA(p.table.slots[slot].file_name.c_str());
    p.table.inspected_slot = -1;
    fill_video_list(p);
  }
  message_box(p.main_window, p.caption.c_str(), insp::kVideosDeleted);
}

void refresh_videos(Inspector& p) {
  WaitCursor wait;
  fill_video_list(p);
  p.table.inspected_slot = -1;
}

void show_filter_dialog(Inspector& p) {
  ::DialogBoxParamA(p.instance, MAKEINTRESOURCEA(IDD_FILTER), p.main_window,
                    filter_dialog_procedure, 0);
}

}  // namespace talvex
