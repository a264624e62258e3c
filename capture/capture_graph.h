// The capture graph: video from one capture device by its friendly name, a preview branch
// through a sample grabber into a video window inside the program's window, and a capture
// branch through an optional compressor into the recorder, which keeps the seconds before
// an event and writes "Talvex_tmp.avi" while a recording runs. One per process, built, run,
// stopped and released on the user-interface thread only.
#pragma once

#include <memory>

#include "app/settings.h"
#include "capture/device_catalogue.h"
#include "capture/frame_buffer.h"
#include "capture/recording.h"

namespace talvex {

class LiveFrames;

using WindowHandle = void*;
using LogFunction = void (*)(int number);

// The window message (WM_APP + 2) by which a built graph tells its owner window that it has
// event notifications to take (take_device_lost_events).
inline constexpr unsigned kGraphEventMessage = 0x8000 + 2;
// The window message (WM_APP + 3) by which the recorder asks its owner window for a split
// of the running recording (RecordingControl::split).
inline constexpr unsigned kRecordingSplitMessage = 0x8000 + 3;

// The graph's sample grabber is the frame source of the capture passes. Everything but
// the frame source belongs to the user-interface thread; the frame source may be used by
// the capture thread at any time: a build publishes its grabber once it runs, a release
// takes it back first, and a grab in flight keeps its own reference meanwhile.
class CaptureGraph : public RecordingGraph, public FrameSource {
 public:
  // Builds and runs the graph for the device and compressor with these friendly names:
  // 54, or 5, 6, 7, 8, 10, 11, 24, 34 or 35 (the caller then releases). Logs 19, 20, 27
  // and 12 on the way. Updates video_device, compressor and compression_enabled.
  virtual int build(const char* device_name, const char* compressor_name) = 0;
  // Releases every object held; the video window is hidden and detached first.
  virtual void release() = 0;
  virtual bool built() const = 0;
  // Stops the graph (its streaming ends; a recording that runs keeps its file open).
  virtual void stop() = 0;
  // Saves the graph as a compound file with one stream "ActiveMovieGraph": S_OK or the
  // failure code, E_FAIL without a graph.
  virtual long save_graph_file(const char* file_name) = 0;
  // Opens the capture device's own property pages, modal to `owner`.
  virtual void show_video_properties(WindowHandle owner) = 0;
  // Samples the grabber has received since the graph was built; any thread.
  virtual unsigned long sample_count() const = 0;
  // Takes the graph's pending event notifications: true when one of them says the device
  // is lost (EC_DEVICE_LOST for a removal, or EC_ERRORABORT).
  virtual bool take_device_lost_events() = 0;
};

// The platform's capture graph for the settings record, showing its preview in `owner`.
// `live`, when given, is offered every frame the grabber receives (for the live view).
// `room`, when given, is the clean-up the recorder asks for room on the disk; it outlives
// the graph.
std::unique_ptr<CaptureGraph> make_capture_graph(Settings& settings, WindowHandle owner,
                                                 LogFunction log, LiveFrames* live = nullptr,
                                                 RecordingRoom* room = nullptr);
// The platform's device enumerator for the catalogue.
std::unique_ptr<DeviceEnumerator> make_device_enumerator();

}  // namespace talvex
