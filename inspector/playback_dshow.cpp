// Playback of a copy of the selected video in the main window, the 60-second jumps, the
// position poller and the photo of the frame on screen.
#include <windows.h>

#include <dshow.h>

#include <utility>

#include "capture/grabber_type_dshow.h"
#include "capture/graph_file_dshow.h"
#include "common/message_box_win.h"
#include "inspector/inspector_messages.h"
#include "inspector/inspector_win.h"

namespace talvex {
namespace {

constexpr wchar_t kPlaybackCopyWide[] = L"Talvex_insp.avi";
constexpr char kGraphFileName[] = "Talvex.grf";
constexpr DWORD kPollerPeriodMs = 900;
constexpr LONG kVideoLeft = 30, kVideoTop = 270, kVideoWidth = 320, kVideoHeight = 240;

void free_media_type(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) ::CoTaskMemFree(type.pbFormat);
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

// Closes a kernel handle when it leaves scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : handle_(h) {}
  ~ScopedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) ::CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_;
};

bool write_all(HANDLE file, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

// One round every 900 ms until stopped: read the position of the video being played and
// hand it to the window. Nothing here touches a window or the video table.
DWORD WINAPI poller_main(void* argument) {
  Inspector& p = *static_cast<Inspector*>(argument);
  // The poller asks the graph's seeking interface for the position: free-threaded COM.
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  while (p.poller_running.load()) {
    ::WaitForSingleObject(p.poller_wake, kPollerPeriodMs);
    if (!p.poller_running.load()) break;
    std::lock_guard<std::mutex> hold(p.playback_lock);
    if (p.video_duration == 0 || !p.seeking) continue;
    LONGLONG position = 0;
    if (p.seeking->GetCurrentPosition(&position) != S_OK) continue;
    ::PostMessageA(p.main_window, kPositionMessage, p.playback_number,
                   static_cast<LPARAM>(position / kTicksPerSecond));
  }
  if (com) ::CoUninitialize();
  return 0;
}

}  // namespace

void set_time_label(Inspector& p, const char* text) { ::SetWindowTextA(p.time_label, text); }

int open_playback(Inspector& p, const char* file_name) {
  if (file_name == nullptr || *file_name == '\0') return 0;
  ComPtr<IGraphBuilder> graph;
  if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         graph.out_void()) != S_OK)
    return 0;
  ComPtr<IVideoWindow> video_window = graph.query<IVideoWindow>(IID_IVideoWindow);
  ComPtr<IMediaSeeking> seeking = graph.query<IMediaSeeking>(IID_IMediaSeeking);
  ComPtr<IMediaControl> control = graph.query<IMediaControl>(IID_IMediaControl);
  if (!video_window || !seeking || !control) return 0;

  // The grabber keeps the last frame for a photo; playback goes on without it.
  ComPtr<IBaseFilter> grabber_filter;
  ComPtr<ISampleGrabber> grabber;
  if (::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IBaseFilter, grabber_filter.out_void()) == S_OK)
    grabber = grabber_filter.query<ISampleGrabber>(IID_ISampleGrabber);
  if (grabber) {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = grabber_subtype(screen_bits());
    grabber->SetMediaType(&type);
    grabber->SetBufferSamples(TRUE);
    graph->AddFilter(grabber_filter.get(), L"SampleGrabber");
  } else {
    grabber_filter.reset();
  }

  // The graph plays a copy, so that the listed video stays free to be deleted.
  ::DeleteFileA(kPlaybackCopy);
  if (!::CopyFileA(file_name, kPlaybackCopy, FALSE)) return 0;
  // A file that the platform can't play at all is a failure, not a blank playback.
  if (FAILED(graph->RenderFile(kPlaybackCopyWide, nullptr))) return 0;

  video_window->put_Owner(reinterpret_cast<OAHWND>(p.main_window));
  video_window->SetWindowPosition(kVideoLeft, kVideoTop, kVideoWidth, kVideoHeight);
  video_window->put_WindowStyleEx(WS_EX_CLIENTEDGE);
  video_window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_BORDER);
  if (p.save_graph) save_graph_file(graph.get(), kGraphFileName);

  control->Run();
  p.playback_stopped = false;
  std::int64_t duration = 0;
  LONGLONG length = 0;
  if (seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME) == S_OK &&
      seeking->GetDuration(&length) == S_OK)
    duration = length / kTicksPerSecond;

  p.graph = std::move(graph);
  p.video_window = std::move(video_window);
  p.control = std::move(control);
  p.grabber_filter = std::move(grabber_filter);
  p.grabber = std::move(grabber);
  {
    std::lock_guard<std::mutex> hold(p.playback_lock);
    p.seeking = std::move(seeking);
    p.video_duration = duration;
    ++p.playback_number;
  }
  return insp::kOk;
}

void close_playback(Inspector& p) {
  ComPtr<IMediaSeeking> seeking;
  {
    std::lock_guard<std::mutex> hold(p.playback_lock);
    seeking = std::move(p.seeking);
    ++p.playback_number;  // positions of the closed graph are ignored from now on
  }
  p.grabber.reset();
  p.grabber_filter.reset();
  if (p.video_window) {
    p.video_window->put_Visible(OAFALSE);
    p.video_window->put_Owner(0);
    p.video_window.reset();
  }
  seeking.reset();
  p.control.reset();
  p.graph.reset();
}

void stop_playback(Inspector& p) {
  if (!p.control) return;
  p.control->Stop();
  p.playback_stopped = true;
  ::SetWindowTextA(p.play_button, ">");
}

void run_playback(Inspector& p) {
  if (!p.control) return;
  p.control->Run();
  p.playback_stopped = false;
  ::SetWindowTextA(p.play_button, "II");
}

void toggle_playback(Inspector& p) {
  if (p.playback_stopped) {
    run_playback(p);
  } else {
    stop_playback(p);
  }
}

namespace {

void seek(Inspector& p, std::int64_t seconds, bool forward) {
  if (p.playback_stopped || !p.seeking) return;
  LONGLONG current = 0;
  if (p.seeking->GetCurrentPosition(&current) != S_OK) return;
  const std::optional<SeekTarget> target =
      forward ? seek_forward_target(current, seconds, p.video_duration)
              : seek_back_target(current, seconds, p.video_duration);
  if (!target) return;
  LONGLONG position = target->position, stop = target->stop;
  p.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, &stop,
                          AM_SEEKING_AbsolutePositioning);
}

}  // namespace

void seek_forward(Inspector& p, std::int64_t seconds) { seek(p, seconds, true); }
void seek_back(Inspector& p, std::int64_t seconds) { seek(p, seconds, false); }

void show_frame_time(Inspector& p, std::int64_t seconds) {
  if (seconds < 0 || p.table.inspected_slot == -1) return;
  const std::optional<CalendarTime> t =
      frame_time(p.table.slots[p.table.inspected_slot].start, seconds);
  if (!t) return;
  p.frame_texts = frame_time_texts(*t);
  set_time_label(p, frame_label(p.frame_texts).c_str());
}

void on_position(Inspector& p, std::uint32_t playback_number, std::int64_t seconds) {
  if (playback_number != p.playback_number) return;  // a round of a graph since closed
  show_frame_time(p, seconds);
  // At the end the graph stops; the play button keeps its caption.
  if (seconds >= p.video_duration && p.control) p.control->Stop();
}

int grab_shown_frame(Inspector& p) {
  if (p.table.inspected_slot == -1 || !p.grabber) return 0;
  p.frame = FrameBuffer{};
  long size = 0;
  // No frame of a video is larger; a size beyond it is refused, never allocated.
  constexpr long kLargestFrame = 256L * 1024 * 1024;
  if (p.grabber->GetCurrentBuffer(&size, nullptr) != S_OK || size <= 0 || size > kLargestFrame) {
    return 0;
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  if (p.grabber->GetCurrentBuffer(&size, reinterpret_cast<long*>(bytes.data())) != S_OK) return 0;
  bytes.resize(static_cast<std::size_t>(size));
  AM_MEDIA_TYPE type{};
  if (p.grabber->GetConnectedMediaType(&type) != S_OK) return 0;
  int result = 0;
  if (type.formattype == FORMAT_VideoInfo && type.pbFormat &&
      type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    p.frame.bytes = std::move(bytes);
    p.frame.width = info->bmiHeader.biWidth;
    p.frame.height = info->bmiHeader.biHeight;
    p.frame.bit_count = info->bmiHeader.biBitCount;
    result = insp::kOk;
  }
  free_media_type(type);
  return result;
}

int write_photo(Inspector& p, const char* file_name) {
  if (file_name == nullptr || *file_name == '\0' || p.table.inspected_slot == -1 ||
      p.frame.bytes.empty())
    return 0;
  const auto headers = bmp_headers(p.frame.width, p.frame.height, p.frame.bit_count,
                                   static_cast<std::int64_t>(p.frame.bytes.size()));
  if (!headers) return 0;
  ScopedHandle file(::CreateFileA(file_name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return 0;
  // A photo that could not be written whole is not reported as saved, nor left behind.
  const bool written = write_all(file.get(), headers->data(), headers->size()) &&
                       write_all(file.get(), p.frame.bytes.data(), p.frame.bytes.size());
  const bool closed = ::CloseHandle(file.release()) != FALSE;
  if (!written || !closed) {
    ::DeleteFileA(file_name);
    return 0;
  }
  return insp::kOk;
}

void inspect_video(Inspector& p) {
  const int slot = selected_slot(p);
  if (slot == -1) {
    message_box(p.main_window, p.caption.c_str(), insp::kSelectVideoToInspect);
    return;
  }
  WaitCursor wait;
  stop_playback(p);
  close_playback(p);
  set_time_label(p, kEmptyFrameLabel);
  const int result = open_playback(p, p.table.slots[slot].file_name.c_str());
  p.table.inspected_slot = slot;
  if (result == insp::kOk) {
    ::SetWindowTextA(p.play_button, "II");
  } else {
    // Nothing plays: the button says so, and pressing it does nothing without a graph.
    close_playback(p);
    p.playback_stopped = true;
    ::SetWindowTextA(p.play_button, ">");
    message_box(p.main_window, p.caption.c_str(), insp::kInspectFailed);
  }
}

void take_photo(Inspector& p) {
  const bool was_playing = !p.playback_stopped;
  if (was_playing) stop_playback(p);
  if (grab_shown_frame(p) != insp::kOk) {
    message_box(p.main_window, p.caption.c_str(), insp::kPhotoCaptureFailed);
  } else {
    // The name is the time shown with the grabbed frame, whatever the label shows later
    // (a graph that rewinds when stopped would otherwise name it after the start).
    const FrameTimeTexts shown = p.frame_texts;
    const std::string folder = browse_for_folder(p.main_window, "Save at:", "Photo");
    if (!folder.empty()) {
      // A name that would not fit its 100 bytes is refused rather than cut.
      const std::optional<std::string> name = photo_file_name(folder, shown);
      WaitCursor wait;
      const int result = name ? write_photo(p, name->c_str()) : 0;
      message_box(p.main_window, p.caption.c_str(),
                  result == insp::kOk ? insp::kPhotoSaved : insp::kPhotoSaveFailed);
    }
  }
  ::SetCurrentDirectoryA(p.video_folder.c_str());
  if (was_playing) run_playback(p);
}

bool start_poller(Inspector& p) {
  p.poller_wake = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!p.poller_wake) return false;
  p.poller_thread = ::CreateThread(nullptr, 0, poller_main, &p, 0, nullptr);
  return p.poller_thread != nullptr;
}

void stop_poller(Inspector& p) {
  p.poller_running.store(false);
  if (p.poller_wake) ::SetEvent(p.poller_wake);
  if (p.poller_thread) {
    ::WaitForSingleObject(p.poller_thread, INFINITE);
    ::CloseHandle(p.poller_thread);
    p.poller_thread = nullptr;
  }
  if (p.poller_wake) {
    ::CloseHandle(p.poller_wake);
    p.poller_wake = nullptr;
  }
}

}  // namespace talvex
