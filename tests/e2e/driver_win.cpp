#include "tests/e2e/driver_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace talvex::e2e {
namespace {

constexpr UINT kSendTimeoutMs = 5000;

struct Search {
  const char* class_name;
  const char* title;
  DWORD pid;
  HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM param) {
  Search& s = *reinterpret_cast<Search*>(param);
  if (s.pid != 0) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != s.pid) return TRUE;
  }
  char text[512];
  if (s.class_name) {
    ::GetClassNameA(window, text, sizeof text);
    if (lstrcmpA(text, s.class_name) != 0) return TRUE;
  }
  if (s.title) {
    ::GetWindowTextA(window, text, sizeof text);
    if (lstrcmpA(text, s.title) != 0) return TRUE;
  }
  s.found = window;
  return FALSE;
}

LRESULT send(HWND window, UINT message, WPARAM w, LPARAM l) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutA(window, message, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
  return static_cast<LRESULT>(result);
}

HWND control(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }

}  // namespace

Program::Program(Program&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), pid_(std::exchange(other.pid_, 0)) {}

Program& Program::operator=(Program&& other) noexcept {
  if (this != &other) {
    kill();
    process_ = std::exchange(other.process_, nullptr);
    pid_ = std::exchange(other.pid_, 0);
  }
  return *this;
}

Program::~Program() { kill(); }

Program Program::start(const std::string& exe, const std::string& arguments,
                       const std::string& working_dir) {
  Program program;
  std::string command = "\"" + exe + "\"";
  if (!arguments.empty()) command += " " + arguments;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       working_dir.empty() ? nullptr : working_dir.c_str(), &startup, &info)) {
    ::CloseHandle(info.hThread);
    program.process_ = info.hProcess;
    program.pid_ = info.dwProcessId;
    ::WaitForInputIdle(info.hProcess, 5000);
  }
  return program;
}

std::optional<DWORD> Program::wait_exit(Timeout timeout) {
  if (!process_) return std::nullopt;
  if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  return code;
}

void Program::kill() {
  if (!process_) return;
  if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, 5000);
  }
  ::CloseHandle(process_);
  process_ = nullptr;
  pid_ = 0;
}

HWND wait_window(const char* class_name, const char* title, Timeout timeout, DWORD pid) {
  Search search{class_name, title, pid, nullptr};
  wait_until(
      [&] {
        ::EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeout);
  return search.found;
}

HWND wait_dialog(const char* title, Timeout timeout, DWORD pid) {
  return wait_window("#32770", title, timeout, pid);
}

bool wait_gone(HWND window, Timeout timeout) {
  return wait_until([&] { return !::IsWindow(window); }, timeout);
}

void post_command(HWND window, int id) { ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void post_close(HWND window) { ::PostMessageA(window, WM_CLOSE, 0, 0); }

void click(HWND dialog, int control_id) {
  // A posted BM_CLICK reaches the button even while the dialog runs a modal loop.
  ::PostMessageA(control(dialog, control_id), BM_CLICK, 0, 0);
}

std::string window_text(HWND window) {
  char text[4096] = {};
  send(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string control_text(HWND dialog, int control_id) {
  return window_text(control(dialog, control_id));
}

void set_control_text(HWND dialog, int control_id, const std::string& text) {
  send(control(dialog, control_id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void set_check(HWND dialog, int control_id, bool checked) {
  send(control(dialog, control_id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool is_checked(HWND dialog, int control_id) {
  return send(control(dialog, control_id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool is_enabled(HWND dialog, int control_id) {
  return ::IsWindowEnabled(control(dialog, control_id)) != FALSE;
}

std::optional<std::string> answer_message_box(const char* caption, int button, Timeout timeout,
                                              DWORD pid) {
  HWND box = wait_dialog(caption, timeout, pid);
  if (!box) return std::nullopt;
  std::string text = control_text(box, 0xFFFF);
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
  wait_gone(box, Timeout{5000});
  return text;
}

namespace {

// A block of memory in another process, freed at the end.
class RemoteBlock {
 public:
  RemoteBlock(HWND window, std::size_t size) : size_(size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_)
      address_ =
          ::VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBlock() {
    if (address_) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) ::CloseHandle(process_);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;
  void* address() const { return address_; }
  bool write(const void* data, std::size_t size, std::size_t offset = 0) {
    return address_ && ::WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data,
                                            size, nullptr);
  }
  bool read(void* data, std::size_t size, std::size_t offset = 0) {
    return address_ && ::ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data,
                                           size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  std::size_t size_;
};

}  // namespace

LRESULT send_with_remote_data(HWND control, UINT message, WPARAM w, void* data, std::size_t size) {
  RemoteBlock block(control, size);
  if (!block.write(data, size)) return 0;
  const LRESULT result = send(control, message, w, reinterpret_cast<LPARAM>(block.address()));
  block.read(data, size);
  return result;
}

int list_view_count(HWND list) { return static_cast<int>(send(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string list_view_text(HWND list, int row, int column) {
  constexpr std::size_t kTextSize = 512;
  RemoteBlock block(list, sizeof(LVITEMA) + kTextSize);
  LVITEMA item{};
  item.iSubItem = column;
  item.cchTextMax = kTextSize;
  item.pszText = static_cast<char*>(block.address()) + sizeof(LVITEMA);
  char text[kTextSize] = {};
  if (!block.write(&item, sizeof item) || !block.write(text, sizeof text, sizeof item)) return {};
  send(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(block.address()));
  block.read(text, sizeof text - 1, sizeof item);
  return text;
}

void select_list_view_row(HWND list, int row) {
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = 0;
  send_with_remote_data(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), &item, sizeof item);
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  send_with_remote_data(list, LVM_SETITEMSTATE, row, &item, sizeof item);
}

namespace {

std::string tree_item_text(HWND tree, HTREEITEM handle) {
  constexpr std::size_t kTextSize = 512;
  RemoteBlock block(tree, sizeof(TVITEMA) + kTextSize);
  TVITEMA item{};
  item.mask = TVIF_TEXT;
  item.hItem = handle;
  item.cchTextMax = kTextSize;
  item.pszText = static_cast<char*>(block.address()) + sizeof(TVITEMA);
  char text[kTextSize] = {};
  if (!block.write(&item, sizeof item) || !block.write(text, sizeof text, sizeof item)) return {};
  send(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block.address()));
  block.read(text, sizeof text - 1, sizeof item);
  return text;
}

}  // namespace

bool select_tree_path(HWND tree, const std::vector<std::string>& texts) {
  HTREEITEM item = reinterpret_cast<HTREEITEM>(send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  HTREEITEM found = nullptr;
  for (const std::string& wanted : texts) {
    found = nullptr;
    for (; item; item = reinterpret_cast<HTREEITEM>(
                     send(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
      if (lstrcmpiA(tree_item_text(tree, item).c_str(), wanted.c_str()) == 0) {
        found = item;
        break;
      }
    }
    if (!found) return false;
    send(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(found));
    item = reinterpret_cast<HTREEITEM>(
        send(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(found)));
  }
  send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found));
  return true;
}

HWND find_child(HWND parent, const char* class_name) {
  return ::FindWindowExA(parent, nullptr, class_name, nullptr);
}

void save_screenshot(HWND window, const std::string& name) {
  const char* folder = std::getenv("TALVEX_SCREENSHOTS");
  RECT r;
  if (!folder) return;
  ::Sleep(400);  // let the window finish painting
  if (!::GetWindowRect(window, &r)) return;
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * height);
  ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  ::CreateDirectoryA(folder, nullptr);
  if (std::FILE* out = std::fopen((std::string(folder) + "\\" + name + ".bmp").c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
  }
}

}  // namespace talvex::e2e
