// The capture program's process-wide state: the settings record, the device tables, the
// capture graph, the recorder and the capture thread, with the operations the window and
// the dialogs share.
#pragma once

#include <windows.h>

#include <memory>

#include "app/settings.h"
#include "capture/capture_graph.h"
#include "capture/capture_loop.h"
#include "capture/device_catalogue.h"
#include "capture/event_command.h"
#include "capture/frame_watch.h"
#include "capture/live_view.h"
#include "capture/recording.h"
#include "capture/recording_control.h"
#include "capture/video_cleanup_thread.h"
#include "capture/warm_up.h"

namespace talvex {

inline constexpr char kProgramCaption[] = "Talvex Capture";
inline constexpr char kMainWindowClass[] = "myWindowClassTX";
inline constexpr char kLogFileName[] = "Talvex.log";
inline constexpr char kIconFileName[] = "Talvex.ico";

// Posted by the capture thread to the main window: start (wParam 1) or stop (wParam 0) the
// motion recording; lParam is the request's generation.
inline constexpr UINT kRecordingRequestMessage = WM_APP + 1;

struct CaptureProgram {
  HINSTANCE instance = nullptr;
  HWND main_window = nullptr;
  HMENU configure_menu = nullptr;
  Settings settings;
  DeviceTable device_names;
  CompressorTable compressor_names;
  // The live view's frames outlive the graph that offers them.
  LiveFrames live_frames;
  // The video folder's clean-up, which the graph's recorder asks for room: it outlives
  // the graph.
  std::unique_ptr<VideoCleanupThread> video_cleanup;
  std::unique_ptr<CaptureGraph> graph;
  Recorder recorder;
  RecordingControl recordings{settings, recorder};
  std::unique_ptr<CaptureSteps> steps;
  std::unique_ptr<CaptureThread> capture_thread;
  // Whether the camera sends frames; the passes go quiet while it does not.
  FrameWatch frame_watch;
  std::atomic<bool> camera_silent{false};
  // The device and compressor to reconnect while the camera is silent.
  std::string dropout_device;
  std::string dropout_compressor;
  bool dropout_compression = false;
  bool reconnecting = false;  // a retry's build: its messages are not logged
  // The live view, and what it was started with.
  std::unique_ptr<LiveViewServer> live_view;
  LiveViewConfig live_view_config;
  EventCommands event_commands;
  // Started at each graph build and each return of the camera's frames.
  WarmUp warm_up;
};

// Timer of the frame watch on the main window.
inline constexpr UINT_PTR kFrameWatchTimer = 1;
inline constexpr UINT kFrameWatchPeriodMs = 500;

CaptureProgram& program();

// The user-interface thread owns the capture graph: every function below runs there.
// Starts the continuous recording (finishing a running one first).
void start_recording();
// Finishes the running recording, if any.
void stop_recording();
// A split the recorder asked for (kRecordingSplitMessage).
void split_recording();
// A recording request of the capture thread (kRecordingRequestMessage).
void handle_recording_request(WPARAM start, LPARAM generation);
void release_capture_graph();
// Builds the graph and starts the detector's warm-up.
int build_capture_graph(const char* device_name, const char* compressor_name);
// The graph's messages go to the log, except those of a reconnection attempt.
void log_graph_message(int number);
// A graph the user (or the start) chose: the frame watch starts over.
void graph_chosen();
// Starts, restarts or stops the live view as the settings now ask: 54, or 53 when it
// cannot start (the caller reports it). Nothing changes while the settings are the same.
int apply_live_view();
// The frame watch's timer and the graph's event message.
void watch_frames();
void take_graph_events();

// Quiets the capture passes around a graph rebuild and restores them afterwards; requests
// asked for before or during the rebuild are dropped.
class PausedCapture {
 public:
  PausedCapture();
  ~PausedCapture();
  PausedCapture(const PausedCapture&) = delete;
  PausedCapture& operator=(const PausedCapture&) = delete;

 private:
  bool capture_frames_;
  bool capture_video_;
  bool motion_enabled_;
};

// Main window operations (main_window_win.cpp).
LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
void set_window_title(const char* device_name);
void enable_video_properties();
void disable_video_properties();
bool save_window_position();

// Dialog procedures (dialogs_win.cpp).
INT_PTR CALLBACK capture_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);
INT_PTR CALLBACK motion_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);
INT_PTR CALLBACK ftp_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);
INT_PTR CALLBACK video_device_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);
INT_PTR CALLBACK compressor_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);
INT_PTR CALLBACK about_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);
INT_PTR CALLBACK events_and_storage_dialog(HWND dialog, UINT message, WPARAM w, LPARAM l);

}  // namespace talvex
