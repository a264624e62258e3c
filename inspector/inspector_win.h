// The inspector's process-wide state and the operations its window dispatches to.
//
// Threads: everything runs on the user-interface thread except the position poller, which
// only reads the playback position. It takes the seeking interface, the duration and the
// playback number under playback_lock, reads the position, and posts it to the main
// window; the window shows the frame time and stops the graph at the end. So the video
// table, the frame texts and the labels are only ever touched by the user-interface thread,
// and no interface is used by the poller while it is being replaced or released.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/com_ptr_win.h"
#include "common/fixed_text.h"
#include "common/sample_grabber_win.h"
#include "inspector/calendar.h"
#include "inspector/command_line.h"
#include "inspector/playback_math.h"
#include "inspector/video_list.h"

namespace talvex {

// Posted by the poller: wParam the playback number, lParam the position in seconds.
constexpr UINT kPositionMessage = WM_APP + 1;

struct FrameBuffer {
  std::vector<unsigned char> bytes;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bit_count = 0;
};

struct Inspector {
  HINSTANCE instance = nullptr;
  std::string caption = kInspectorCaption;
  std::string icon_file = "Talvex.ico";
  std::string window_title = kInspectorCaption;
  FixedText<100> video_folder;
  bool save_graph = false;

  HWND main_window = nullptr;
  HWND folder_field = nullptr;
  HWND list_view = nullptr;
  HWND time_label = nullptr;
  HWND play_button = nullptr;

  VideoTable table;
  FilterRange range;

  // Playback, owned by the user-interface thread.
  ComPtr<IGraphBuilder> graph;
  ComPtr<IVideoWindow> video_window;
  ComPtr<IMediaControl> control;
  ComPtr<IBaseFilter> grabber_filter;
  ComPtr<ISampleGrabber> grabber;
  bool playback_stopped = true;
  FrameBuffer frame;
  FrameTimeTexts frame_texts;

  // Guards seeking, video_duration and playback_number, which the poller reads.
  std::mutex playback_lock;
  ComPtr<IMediaSeeking> seeking;
  std::int64_t video_duration = 0;
  std::uint32_t playback_number = 0;  // changes with every open and close

  std::atomic<bool> poller_running{true};
  HANDLE poller_wake = nullptr;
  HANDLE poller_thread = nullptr;
};

Inspector& inspector();

// Shows the hourglass while it lives and restores the cursor that was current before.
class WaitCursor {
 public:
  WaitCursor() : previous_(::GetCursor()) { ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT)); }
  ~WaitCursor() { ::SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};

// The shell's folder browser with `text` above the tree and `window_title` as its caption;
// the chosen folder's path, or an empty text when cancelled or the path can't be had.
std::string browse_for_folder(HWND owner, const char* text, const char* window_title);

// The folder as a fully qualified path, so that going back to it later lands in the same
// place. A relative folder ("cams", "\cams", "c:cams") is resolved against the current
// directory; a fully qualified one is kept as it is. Nothing when the result is longer than
// the video folder holds.
std::optional<std::string> absolute_folder(const std::string& folder);

// Main window (main_window_win.cpp).
LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
void create_controls(Inspector& p);
void change_video_folder(Inspector& p);
void apply_chosen_folder(Inspector& p, const std::string& chosen);

// Video list (video_list_win.cpp).
void fill_video_list(Inspector& p);
int selected_slot(const Inspector& p);
void delete_video(Inspector& p);
void delete_all_videos(Inspector& p);
void refresh_videos(Inspector& p);
void show_filter_dialog(Inspector& p);

// Playback and photo (playback_dshow.cpp).
int open_playback(Inspector& p, const char* file_name);
void close_playback(Inspector& p);
void stop_playback(Inspector& p);
void run_playback(Inspector& p);
void toggle_playback(Inspector& p);
void seek_forward(Inspector& p, std::int64_t seconds);
void seek_back(Inspector& p, std::int64_t seconds);
void show_frame_time(Inspector& p, std::int64_t seconds);
void on_position(Inspector& p, std::uint32_t playback_number, std::int64_t seconds);
int grab_shown_frame(Inspector& p);
int write_photo(Inspector& p, const char* file_name);
void inspect_video(Inspector& p);
void take_photo(Inspector& p);
void set_time_label(Inspector& p, const char* text);
// The poller: started once, stopped by signalling, waking and joining it.
bool start_poller(Inspector& p);
void stop_poller(Inspector& p);

}  // namespace talvex
