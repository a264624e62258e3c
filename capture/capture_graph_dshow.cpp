// The capture graph on DirectShow: the device's capture stream through the optional
// compressor into our recorder filter, the same graph calls on Windows and under Wine. The
// recorder always receives the stream; recordings start, stop and split on it without
// stopping or re-running the graph.
#include "capture/capture_graph.h"
#include "capture/live_view.h"

#include <dshow.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "app/talvex_messages.h"
#include "capture/dshow_devices_dshow.h"
#include "capture/grabber_type_dshow.h"
#include "capture/graph_file_dshow.h"
#include "capture/recorder_filter_dshow.h"
#include "capture/working_files.h"
#include "common/com_object_win.h"
#include "common/com_ptr_win.h"
#include "common/sample_grabber_win.h"

namespace talvex {
namespace {

constexpr LONG kPreviewLeft = 10, kPreviewTop = 5, kPreviewWidth = 320, kPreviewHeight = 240;

using msg::kCompressorNotAdded;
using msg::kCompressorNotConnected;
using msg::kCompressorNotFound;
using msg::kDeviceNotFound;
using msg::kDeviceUnusable;
using msg::kDeviceUnusableCompressed;
using msg::kGraphFileFailed;
using msg::kNoDeviceEnumerator;
using msg::kNoGraphBuilder;
using msg::kNoGraphManager;
using msg::kNoSampleCapture;
using msg::kNoSampleGrabber;
using msg::kNoVideoDevices;

template <typename T>
HRESULT create(REFCLSID clsid, REFIID iid, ComPtr<T>& out) {
  return dshow_calls().create_instance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out.out_void());
}

void free_media_type(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) ::CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  type.pUnk = nullptr;
}

// Finds the moniker whose friendly name equals `name` byte for byte.
ComPtr<IMoniker> find_by_name(IEnumMoniker* monikers, const char* name, std::size_t buffer) {
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    const auto found = friendly_name(moniker.get(), buffer);
    if (found && *found == name) return moniker;
  }
  return {};
}

// Counts the samples that reach the grabber, on the streaming thread: the frame watch
// tells a silent camera from a still picture by this count. Once the live view's frames
// are attached, each sample is offered to them too (copied only while someone watches).
class SampleCounter final : public ComObject<ISampleGrabberCB> {
 public:
  SampleCounter() : ComObject(IID_ISampleGrabberCB) {}
  STDMETHODIMP SampleCB(double, IMediaSample* sample) override {
    ++samples;
    if (LiveFrames* frames = live_.load(); frames && sample) {
      BYTE* pixels = nullptr;
      if (sample->GetPointer(&pixels) == S_OK) {
        const long size = sample->GetActualDataLength();
        if (size > 0) {
          frames->offer(pixels, static_cast<std::size_t>(size), format_.width, format_.height,
                        format_.bit_count);
        }
      }
    }
    return S_OK;
  }
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

  // The user-interface thread, once, after the build: the format is in place before the
  // streaming thread can see the frames.
  void attach_live_frames(LiveFrames* frames, const GrabbedFormat& format) {
    format_ = format;
    live_.store(frames);
  }

  std::atomic<unsigned long> samples{0};

 private:
  GrabbedFormat format_;
  std::atomic<LiveFrames*> live_{nullptr};
};

// The objects of one built graph. A build fills a fresh set and hands it over only when
// it succeeded; a failed set is torn down where it was made.
class GraphParts {
 public:
  GraphParts(Settings& settings, HWND owner, LogFunction log, RecordingRoom* room)
      : settings_(settings), owner_(owner), log_(log), room_(room) {}
  GraphParts(const GraphParts&) = delete;
  GraphParts& operator=(const GraphParts&) = delete;
  ~GraphParts() { release(); }

  int build(const char* device_name, const char* compressor_name);
  void release();
  long save_graph_file(const char* file_name) {
    return talvex::save_graph_file(graph_.get(), file_name);
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<ICaptureGraphBuilder2> builder_;
  ComPtr<IBaseFilter> capture_filter_;
  ComPtr<IBaseFilter> grabber_filter_;
  ComPtr<ISampleGrabber> grabber_;
  ComPtr<IBaseFilter> compressor_filter_;
  ComPtr<IBaseFilter> recorder_filter_;
  std::shared_ptr<RecordingStream> recording_;
  ComPtr<IVideoWindow> video_window_;
  ComPtr<IMediaControl> media_control_;
  ComPtr<IMediaEventEx> media_events_;
  ComPtr<SampleCounter> sample_counter_;

 private:
  void log(int number) const {
    if (log_) log_(number);
  }
  // A failure that becomes a message number: the platform's result goes to the trace.
  int fail(int number, HRESULT hr) const {
    trace_failure(number, hr);
    return number;
  }
  void no_device_or_compressor() {
    settings_.video_device = kNoneName;
    settings_.compressor = kNoneName;
  }
  void no_compressor() {
    settings_.compressor = kNoneName;
    settings_.compression_enabled = false;
  }
  void find_compressor(const char* compressor_name);
  HRESULT render_capture(IBaseFilter* compressor);
  int build_capture_branch(const char* compressor_name);
  void remove_every_filter();

  Settings& settings_;
  HWND owner_;
  LogFunction log_;
  RecordingRoom* room_;
};

class DshowCaptureGraph final : public CaptureGraph {
 public:
  DshowCaptureGraph(Settings& settings, WindowHandle owner, LogFunction log, LiveFrames* live,
                    RecordingRoom* room)
      : settings_(settings),
        owner_(static_cast<HWND>(owner)),
        log_(log),
        live_(live),
        room_(room) {}
  ~DshowCaptureGraph() override { release(); }

  int build(const char* device_name, const char* compressor_name) override;
  void release() override;
  bool built() const override { return static_cast<bool>(parts_); }
  void stop() override {
    if (parts_ && parts_->media_control_) parts_->media_control_->Stop();
  }
  long save_graph_file(const char* file_name) override;
  void show_video_properties(WindowHandle owner) override;

  bool has_device() const override { return !(settings_.video_device == kNoneName); }
  RecordingStream* recording_stream() override {
    return parts_ ? parts_->recording_.get() : nullptr;
  }

  unsigned long sample_count() const override {
    std::lock_guard<std::mutex> lock(grabber_lock_);
    return published_counter_ ? published_counter_->samples.load() : 0;
  }
  bool take_device_lost_events() override;

  bool has_grabber() const override { return static_cast<bool>(published_grabber()); }
  bool grabbed_size(long& size) override;
  bool copy_grabbed(void* bytes, long& size) override;
  bool grabbed_format(GrabbedFormat& format) override;

 private:
  ComPtr<ISampleGrabber> published_grabber() const {
    std::lock_guard<std::mutex> lock(grabber_lock_);
    return published_grabber_;
  }
  void publish_grabber(const ComPtr<ISampleGrabber>& grabber,
                       const ComPtr<SampleCounter>& counter) {
    std::lock_guard<std::mutex> lock(grabber_lock_);
    published_grabber_ = grabber;
    published_counter_ = counter;
  }

  Settings& settings_;
  HWND owner_;
  LogFunction log_;
  LiveFrames* live_;
  RecordingRoom* room_;

  // The grabber of a running graph, as the capture thread sees it, and its sample count.
  mutable std::mutex grabber_lock_;  // guards published_grabber_ and published_counter_
  ComPtr<ISampleGrabber> published_grabber_;
  ComPtr<SampleCounter> published_counter_;

  // The graph, present only after a build that succeeded with a device.
  std::unique_ptr<GraphParts> parts_;
};

int DshowCaptureGraph::build(const char* device_name, const char* compressor_name) {
  // Callers release first; a graph still held goes now, its grabber first.
  release();
  auto parts = std::make_unique<GraphParts>(settings_, owner_, log_, room_);
  const int result = parts->build(device_name, compressor_name);
  // A failed build tears its parts down here; a build for "<none>" leaves no graph.
  if (result != msg::kOk || !parts->graph_) return result;
  parts_ = std::move(parts);
  publish_grabber(parts_->grabber_, parts_->sample_counter_);
  GrabbedFormat format;
  if (live_ && parts_->sample_counter_ && grabbed_format(format)) {
    parts_->sample_counter_->attach_live_frames(live_, format);
  }
  return msg::kOk;
}

void DshowCaptureGraph::release() {
  publish_grabber({}, {});
  parts_.reset();
}

bool DshowCaptureGraph::take_device_lost_events() {
  IMediaEventEx* events = parts_ ? parts_->media_events_.get() : nullptr;
  if (!events) return false;
  bool lost = false;
  long code = 0;
  LONG_PTR first = 0, second = 0;
  while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
    if ((code == EC_DEVICE_LOST && second == 0) || code == EC_ERRORABORT) lost = true;
    events->FreeEventParams(code, first, second);
  }
  return lost;
}

long DshowCaptureGraph::save_graph_file(const char* file_name) {
  return talvex::save_graph_file(parts_ ? parts_->graph_.get() : nullptr, file_name);
}

int GraphParts::build(const char* device_name, const char* compressor_name) {
  HRESULT hr = S_OK;
  // 1. No device: nothing to build.
  if (std::string_view(device_name) == kNoneName) {
    no_device_or_compressor();
    return msg::kOk;
  }
  // 2-3. Graph and capture graph builder.
  if (FAILED(hr = create(CLSID_FilterGraph, IID_IGraphBuilder, graph_))) {
    graph_.reset();
    no_device_or_compressor();
    return fail(kNoGraphManager, hr);
  }
  if (FAILED(hr = create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, builder_))) {
    builder_.reset();
    no_device_or_compressor();
    return fail(kNoGraphBuilder, hr);
  }
  builder_->SetFiltergraph(graph_.get());

  // 4-7. The device by its friendly name.
  {
    ComPtr<ICreateDevEnum> enumerator;
    ComPtr<IEnumMoniker> monikers;
    hr = open_device_category(CLSID_VideoInputDeviceCategory, enumerator, monikers);
    if (!enumerator) {
      no_device_or_compressor();
      return fail(kNoDeviceEnumerator, hr);
    }
    if (hr != S_OK) {
      no_device_or_compressor();
      return fail(kNoVideoDevices, hr);
    }
    ComPtr<IMoniker> moniker = find_by_name(monikers.get(), device_name, kDeviceNameBuffer);
    if (!moniker) {
      settings_.video_device = kNoneName;
      return fail(kDeviceNotFound, S_FALSE);
    }
    settings_.video_device = device_name;
    hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, capture_filter_.out_void());
    if (!capture_filter_) {
      settings_.video_device = kNoneName;
      return fail(kDeviceNotFound, hr);
    }
    graph_->AddFilter(capture_filter_.get(), L"Video Capture");
  }

  // 8-10. The sample grabber at the screen's depth, buffering every sample.
  if (FAILED(hr = create(CLSID_SampleGrabber, IID_IBaseFilter, grabber_filter_))) {
    grabber_filter_.reset();
    return fail(kNoSampleGrabber, hr);
  }
  grabber_ = grabber_filter_.query<ISampleGrabber>(IID_ISampleGrabber);
  if (!grabber_) return fail(kNoSampleGrabber, E_NOINTERFACE);
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = grabber_subtype(dshow_calls().screen_bits());
  grabber_->SetMediaType(&type);
  graph_->AddFilter(grabber_filter_.get(), L"Sample Grabber");
  if ((hr = grabber_->SetBufferSamples(TRUE)) != S_OK) return fail(kNoSampleCapture, hr);
  sample_counter_ = ComPtr<SampleCounter>(new SampleCounter);
  sample_counter_->Release();  // the ComPtr took its own reference
  grabber_->SetCallback(sample_counter_.get(), 0);

  // 11. Preview through the grabber into the default video renderer.
  builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture_filter_.get(),
                         grabber_filter_.get(), nullptr);

  // 12-14. The capture branch into the recorder.
  if (const int result = build_capture_branch(compressor_name); result != msg::kOk) {
    return result;
  }

  // 16. The preview inside the owner window.
  video_window_ = graph_.query<IVideoWindow>(IID_IVideoWindow);
  if (video_window_) {
    video_window_->put_Owner(reinterpret_cast<OAHWND>(owner_));
    video_window_->SetWindowPosition(kPreviewLeft, kPreviewTop, kPreviewWidth, kPreviewHeight);
    video_window_->put_WindowStyleEx(WS_EX_CLIENTEDGE);
    video_window_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
  }

  // 17-19.
  media_control_ = graph_.query<IMediaControl>(IID_IMediaControl);
  // Events (a device lost) reach the owner window as a message.
  media_events_ = graph_.query<IMediaEventEx>(IID_IMediaEventEx);
  if (media_events_) {
    media_events_->SetNotifyWindow(reinterpret_cast<OAHWND>(owner_), kGraphEventMessage, 0);
  }
  if (settings_.save_graph && save_graph_file(kGraphFileName) == E_FAIL) {
    trace_failure(kGraphFileFailed, E_FAIL);
    log(kGraphFileFailed);
  }
  if (media_control_) media_control_->Run();
  return msg::kOk;
}

void GraphParts::find_compressor(const char* compressor_name) {
  ComPtr<ICreateDevEnum> enumerator;
  ComPtr<IEnumMoniker> monikers;
  HRESULT hr = open_device_category(CLSID_VideoCompressorCategory, enumerator, monikers);
  if (hr != S_OK) {
    no_compressor();
    return;
  }
  ComPtr<IMoniker> moniker = find_by_name(monikers.get(), compressor_name, kCompressorNameBuffer);
  hr = S_FALSE;
  if (moniker)
    hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, compressor_filter_.out_void());
  if (!compressor_filter_) {
    trace_failure(kCompressorNotFound, hr);
    log(kCompressorNotFound);
    no_compressor();
    return;
  }
  if ((hr = graph_->AddFilter(compressor_filter_.get(), L"Compressor")) != S_OK) {
    compressor_filter_.reset();
    no_compressor();
    trace_failure(kCompressorNotAdded, hr);
    log(kCompressorNotAdded);
  }
}

// Connects the capture stream into the recorder, through the compressor when given. A
// failed attempt takes the compressor out again, so the capture pin is free for the next.
HRESULT GraphParts::render_capture(IBaseFilter* compressor) {
  const HRESULT hr =
      builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture_filter_.get(),
                             compressor, recorder_filter_.get());
  if (hr != S_OK && compressor) graph_->RemoveFilter(compressor);
  return hr;
}

int GraphParts::build_capture_branch(const char* compressor_name) {
  // 12. The compressor, when compression is on.
  if (settings_.compression_enabled) find_compressor(compressor_name);

  // 13. The recorder, which always receives the capture stream; it keeps the seconds before
  // an event and writes the recordings. Its splits are asked of the owner window.
  recording_ = std::make_shared<RecordingStream>();
  recording_->set_pre_event(settings_.pre_event.load());
  recording_->set_room(room_);
  const HWND owner = owner_;
  recording_->set_split_request([owner] {
    if (owner) ::PostMessageA(owner, kRecordingSplitMessage, 0, 0);
  });
  HRESULT hr = create_recorder_filter(recording_, &recorder_filter_);
  if (FAILED(hr)) return fail(kDeviceUnusable, hr);
  graph_->AddFilter(recorder_filter_.get(), L"Recorder");

  // 14. Capture into the recorder, compressed when possible. The recorder refuses a type it
  // cannot store, so such a compressor fails here.
  if (settings_.compression_enabled) {
    if ((hr = render_capture(compressor_filter_.get())) == S_OK) {
      settings_.compressor = compressor_name;
    } else {
      compressor_filter_.reset();
      no_compressor();
      trace_failure(kCompressorNotConnected, hr);
      log(kCompressorNotConnected);
      if ((hr = render_capture(nullptr)) != S_OK) {
        settings_.video_device = kNoneName;
        return fail(kDeviceUnusableCompressed, hr);
      }
    }
  } else if ((hr = render_capture(nullptr)) != S_OK) {
    settings_.video_device = kNoneName;
    return fail(kDeviceUnusable, hr);
  }
  return msg::kOk;
}

// The dialogs release a running graph: it is stopped first, and every filter leaves the
// graph (which disconnects it and ends its streaming) before the pointers go. Safe to call
// again.
void GraphParts::release() {
  if (graph_) {
    if (auto control = graph_.query<IMediaControl>(IID_IMediaControl)) control->Stop();
  }
  if (media_events_) {
    media_events_->SetNotifyWindow(0, 0, 0);
    media_events_.reset();
  }
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  sample_counter_.reset();
  media_control_.reset();
  if (video_window_) {
    video_window_->put_Visible(OAFALSE);
    video_window_->put_Owner(0);
    video_window_.reset();
  }
  remove_every_filter();
  compressor_filter_.reset();
  recorder_filter_.reset();
  // A recording still open stays on the disk as it stands, for the next start's recovery.
  recording_.reset();
  capture_filter_.reset();
  builder_.reset();
  grabber_.reset();
  grabber_filter_.reset();
  graph_.reset();
}

void GraphParts::remove_every_filter() {
  if (!graph_) return;
  // Listed first: removing a filter puts an open enumeration out of step.
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IEnumFilters> listing;
  if (SUCCEEDED(graph_->EnumFilters(&listing)) && listing) {
    ComPtr<IBaseFilter> filter;
    while (listing->Next(1, &filter, nullptr) == S_OK) filters.push_back(filter);
  }
  for (const auto& filter : filters) graph_->RemoveFilter(filter.get());
}

void DshowCaptureGraph::show_video_properties(WindowHandle owner) {
  IBaseFilter* capture_filter = parts_ ? parts_->capture_filter_.get() : nullptr;
  if (settings_.video_device == kNoneName || !capture_filter) return;
  ComPtr<IBaseFilter> filter(capture_filter);
  ComPtr<ISpecifyPropertyPages> pages =
      filter.query<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
  if (!pages) return;
  FILTER_INFO info{};
  filter->QueryFilterInfo(&info);
  ComPtr<IFilterGraph> info_graph;
  info_graph.attach(info.pGraph);
  ComPtr<IUnknown> object = filter.query<IUnknown>(IID_IUnknown);
  CAUUID ids{};
  pages->GetPages(&ids);
  pages.reset();
  IUnknown* objects[] = {object.get()};
  ::OleCreatePropertyFrame(static_cast<HWND>(owner), 0, 0, L"", 1, objects, ids.cElems, ids.pElems,
                           0, 0, nullptr);
  ::CoTaskMemFree(ids.pElems);
}

// The capture thread's side: each call holds its own reference to the published grabber,
// so a release on the other thread never pulls it away mid-call.
bool DshowCaptureGraph::grabbed_size(long& size) {
  size = 0;
  const ComPtr<ISampleGrabber> grabber = published_grabber();
  return grabber && grabber->GetCurrentBuffer(&size, nullptr) == S_OK && size > 0;
}

bool DshowCaptureGraph::copy_grabbed(void* bytes, long& size) {
  const ComPtr<ISampleGrabber> grabber = published_grabber();
  return grabber && grabber->GetCurrentBuffer(&size, static_cast<long*>(bytes)) == S_OK;
}

bool DshowCaptureGraph::grabbed_format(GrabbedFormat& format) {
  const ComPtr<ISampleGrabber> grabber = published_grabber();
  if (!grabber) return false;
  AM_MEDIA_TYPE type{};
  if (grabber->GetConnectedMediaType(&type) != S_OK) return false;
  bool ok = false;
  if (type.formattype == FORMAT_VideoInfo && type.pbFormat &&
      type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    format.width = info->bmiHeader.biWidth;
    format.height = info->bmiHeader.biHeight;
    format.bit_count = info->bmiHeader.biBitCount;
    ok = true;
  }
  free_media_type(type);
  return ok;
}

}  // namespace

std::unique_ptr<CaptureGraph> make_capture_graph(Settings& settings, WindowHandle owner,
                                                 LogFunction log, LiveFrames* live,
                                                 RecordingRoom* room) {
  return std::make_unique<DshowCaptureGraph>(settings, owner, log, live, room);
}

}  // namespace talvex
