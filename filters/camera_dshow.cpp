#include "filters/camera_dshow.h"

#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dshow/dshow_base_dshow.h"
#include "dshow/stream_control_dshow.h"
#include "filters/bmp_frame.h"
#include "filters/camera_config.h"
#include "filters/filter_ids.h"
#include "filters/rgb_image.h"
#include "filters/test_scene.h"

namespace talvex::filters {

namespace {

using dshow::MediaType;

std::string environment(const char* name) {
  char buffer[1024];
  const DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof(buffer));
  return (n > 0 && n < sizeof(buffer)) ? std::string(buffer, n) : std::string();
}

std::wstring environment_w(const wchar_t* name) {
  wchar_t buffer[2048];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 2048);
  return (n > 0 && n < 2048) ? std::wstring(buffer, n) : std::wstring();
}

// Seconds since this process was created: the clock of the drop-out schedule, the same for
// every camera instance and graph of the process.
double process_seconds() {
  FILETIME created, exited, kernel, user, now;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  ::GetSystemTimeAsFileTime(&now);
  auto value = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(value(now) - value(created)) / kUnitsPerSecond;
}

// --- frame sources ---------------------------------------------------------------------------

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // Writes the frame shown at stream time t; `scene_time` is the process clock's time of
  // the frame, which a graph's restart does not turn back. Called from the streaming threads.
  virtual void fill(StreamTime t, StreamTime scene_time, REFERENCE_TIME period, PixelFormat format,
                    std::uint8_t* frame) = 0;
};

class SceneSource : public FrameSource {
 public:
  SceneSource(SceneKind kind, FrameSize size) : kind_(kind), size_(size) {}
  int width() const override { return size_.width; }
  int height() const override { return size_.height; }
  // The scene follows the process clock: a restarted graph does not show it again.
  void fill(StreamTime, StreamTime scene_time, REFERENCE_TIME, PixelFormat format,
            std::uint8_t* frame) override {
    convert_to_frame(render_scene(kind_, scene_time, size_.width, size_.height), size_.width,
                     size_.height, format, frame);
  }

 private:
  SceneKind kind_;
  FrameSize size_;
};

// A whole file in memory, or nothing. Files larger than any acceptable frame are refused.
bool read_file(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  struct Closer {
    HANDLE h;
    ~Closer() { ::CloseHandle(h); }
  } closer{file};
  LARGE_INTEGER size;
  constexpr LONGLONG kLargest = 64LL * 1024 * 1024 * 4;
  if (!::GetFileSizeEx(file, &size) || size.QuadPart > kLargest) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 24));
    if (!::ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

// TALVEX_TESTCAM_FRAMES may name a Windows path or, under Wine, a Unix one.
std::wstring frames_folder() {
  std::wstring folder = environment_w(L"TALVEX_TESTCAM_FRAMES");
  if (!folder.empty() && folder[0] == L'/') {
    using ToDos = WCHAR*(CDECL*)(const char*);
    auto to_dos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    const std::string unix_path = environment("TALVEX_TESTCAM_FRAMES");
    if (to_dos && !unix_path.empty()) {
      if (WCHAR* dos = to_dos(unix_path.c_str())) {
        folder = dos;
        ::HeapFree(::GetProcessHeap(), 0, dos);
      }
    }
  }
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

// Plays the valid 24-bit BMP files of a folder in name order, one a frame period, looping.
// The frame size is the first valid file's; other sizes are cropped or padded.
class ReplaySource : public FrameSource {
 public:
  explicit ReplaySource(FrameSize fallback) : size_(fallback) {
    const std::wstring folder = frames_folder();
    if (folder.empty()) return;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
      } while (::FindNextFileW(find, &found));
      ::FindClose(find);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::uint8_t> bytes;
    for (const std::wstring& name : names) {
      const std::wstring path = folder + L"\\" + name;
      if (!read_file(path, bytes)) continue;
      const auto image = parse_bmp24(bytes.data(), bytes.size());
      if (!image) continue;
      if (files_.empty()) size_ = FrameSize{image->width, image->height};
      files_.push_back(path);
    }
  }
  int width() const override { return size_.width; }
  int height() const override { return size_.height; }
  void fill(StreamTime t, StreamTime, REFERENCE_TIME period, PixelFormat format,
            std::uint8_t* frame) override {
    std::optional<Rgb24Image> image;
    if (!files_.empty() && period > 0) {
      const std::size_t index = static_cast<std::size_t>((t / period) % files_.size());
      std::vector<std::uint8_t> bytes;
      if (read_file(files_[index], bytes)) image = parse_bmp24(bytes.data(), bytes.size());
    }
    // A file that went away or changed since the listing shows as black.
    convert_to_frame(image ? *image : Rgb24Image{}, size_.width, size_.height, format, frame);
  }

 private:
  FrameSize size_;
  std::vector<std::wstring> files_;
};

// --- pins ---------------------------------------------------------------------------------------

PixelFormat screen_preferred_format() {
  HDC screen = ::GetDC(nullptr);
  if (!screen) return PixelFormat::kRgb24;
  const int bits = ::GetDeviceCaps(screen, BITSPIXEL);
  ::ReleaseDC(nullptr, screen);
  if (bits == 32) return PixelFormat::kRgb32;
  if (bits == 16) return PixelFormat::kRgb555;
  return PixelFormat::kRgb24;
}

const GUID& subtype_of(PixelFormat format) {
  switch (format) {
    case PixelFormat::kRgb32:
      return MEDIASUBTYPE_RGB32;
    case PixelFormat::kRgb555:
      return MEDIASUBTYPE_RGB555;
    case PixelFormat::kRgb24:
      break;
  }
  return MEDIASUBTYPE_RGB24;
}

std::optional<PixelFormat> format_of(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return PixelFormat::kRgb32;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return PixelFormat::kRgb24;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return PixelFormat::kRgb555;
  return std::nullopt;
}

class CameraFilter;

class CameraPin : public dshow::OutputPin, public IKsPropertySet {
 public:
  CameraPin(CameraFilter& camera, const wchar_t* name, const GUID& category, bool time_stamps);
  ~CameraPin() override {
    stop_thread();
    if (wake_) ::CloseHandle(wake_);
  }

  // IUnknown, shared by both bases.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return OutputPin::QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return OutputPin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return OutputPin::Release(); }

  // IKsPropertySet: the pin category, read only.
  STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override {
    return E_PROP_ID_UNSUPPORTED;
  }
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                   DWORD* returned) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned) return E_POINTER;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = category_;
    return S_OK;
  }
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
  }

  HRESULT query_extra(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IAMStreamControl)) return stream_control_.query(out);
    if (IsEqualIID(iid, IID_IKsPropertySet)) {
      *out = static_cast<IKsPropertySet*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override;
  HRESULT get_media_type(int i, MediaType& mt) override;
  void buffer_needs(ALLOCATOR_PROPERTIES& props) override;
  HRESULT activate() override;
  void deactivate() override;

  void wake() {
    if (wake_) ::SetEvent(wake_);
  }
  void stop_thread();

 private:
  void stream();
  void wait(DWORD ms) { ::WaitForSingleObject(wake_, ms); }

  CameraFilter& camera_;
  GUID category_;
  bool time_stamps_;
  HANDLE wake_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  dshow::StreamControl stream_control_;
};

class CameraFilter : public dshow::FilterBase {
 public:
  CameraFilter(const CLSID& clsid, std::unique_ptr<FrameSource> source, int fps, bool preview_pin,
               std::optional<Dropout> dropout)
      : FilterBase(clsid),
        source_(std::move(source)),
        period_(kUnitsPerSecond / fps),
        dropout_(dropout),
        preferred_(screen_preferred_format()) {
    pins_.push_back(std::make_unique<CameraPin>(*this, L"Capture", PIN_CATEGORY_CAPTURE, true));
    if (preview_pin) {
      // Preview samples carry no time stamps, so that a renderer shows them at once.
      pins_.push_back(std::make_unique<CameraPin>(*this, L"Preview", PIN_CATEGORY_PREVIEW, false));
    }
  }
  ~CameraFilter() override {
    // Decommitting first frees a streaming thread that waits for a buffer.
    for (auto& p : pins_) p->deactivate();
  }

  int pin_count() override { return static_cast<int>(pins_.size()); }
  IPin* pin(int i) override { return static_cast<dshow::OutputPin*>(pins_[i].get()); }

  FrameSource& source() { return *source_; }
  REFERENCE_TIME period() const { return period_; }
  PixelFormat preferred() const { return preferred_; }
  // Whether a pin whose run began at `run_started` (process seconds) delivers a frame now.
  // A device lost once stays lost, and its loss is reported to the graph once.
  bool delivering(double run_started) {
    if (!dropout_) return true;
    if (lost_) return false;
    switch (dropout_state(*dropout_, run_started, process_seconds())) {
      case DropoutState::kDelivering:
        return true;
      case DropoutState::kSilent:
        return false;
      case DropoutState::kLostNow:
        if (!lost_.exchange(true)) notify_event(EC_DEVICE_LOST, 0, 0);  // 0: removed
        return false;
    }
    return false;
  }

 protected:
  bool is_live_source() const override { return true; }
  void on_state_change() override {
    for (auto& p : pins_) p->wake();
  }

 private:
  std::unique_ptr<FrameSource> source_;
  REFERENCE_TIME period_;
  std::optional<Dropout> dropout_;
  std::atomic<bool> lost_{false};
  PixelFormat preferred_;
  std::vector<std::unique_ptr<CameraPin>> pins_;
};

CameraPin::CameraPin(CameraFilter& camera, const wchar_t* name, const GUID& category,
                     bool time_stamps)
    : OutputPin(camera, name),
      camera_(camera),
      category_(category),
      time_stamps_(time_stamps),
      wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      stream_control_(*this, time_stamps) {}

HRESULT CameraPin::check_media_type(const AM_MEDIA_TYPE& mt) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video)) return S_FALSE;
  const auto format = format_of(mt.subtype);
  if (!format || !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || !mt.pbFormat ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return S_FALSE;
  }
  const auto& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
  const FrameSource& source = camera_.source();
  if (bmi.biWidth != source.width() || bmi.biHeight != source.height() ||
      bmi.biBitCount != bits_per_pixel(*format) || bmi.biCompression != BI_RGB) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CameraPin::get_media_type(int i, MediaType& mt) {
  static constexpr PixelFormat kAll[] = {PixelFormat::kRgb24, PixelFormat::kRgb32,
                                         PixelFormat::kRgb555};
  if (i < 0 || i > 2) return VFW_S_NO_MORE_ITEMS;
  // The screen's depth first: through a Smart Tee the first type is the one that both
  // branches get, and the sample grabber asks for the screen's depth.
  std::vector<PixelFormat> order{camera_.preferred()};
  for (PixelFormat f : kAll) {
    if (f != camera_.preferred()) order.push_back(f);
  }
  const PixelFormat format = order[i];
  const int width = camera_.source().width();
  const int height = camera_.source().height();

  mt.reset();
  AM_MEDIA_TYPE& m = mt.get();
  m.majortype = MEDIATYPE_Video;
  m.subtype = subtype_of(format);
  m.bFixedSizeSamples = TRUE;
  m.bTemporalCompression = FALSE;
  m.lSampleSize = static_cast<ULONG>(frame_size(width, height, format));
  m.formattype = FORMAT_VideoInfo;
  m.cbFormat = sizeof(VIDEOINFOHEADER);
  m.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(m.cbFormat));
  if (!m.pbFormat) {
    m.cbFormat = 0;
    return E_OUTOFMEMORY;
  }
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(m.pbFormat);
  ZeroMemory(vih, sizeof(*vih));
  vih->AvgTimePerFrame = camera_.period();
  vih->dwBitRate = static_cast<DWORD>(std::min<ULONGLONG>(
      0xFFFFFFFFu, static_cast<ULONGLONG>(m.lSampleSize) * 8 * kUnitsPerSecond / camera_.period()));
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = static_cast<WORD>(bits_per_pixel(format));
  vih->bmiHeader.biCompression = BI_RGB;
  vih->bmiHeader.biSizeImage = m.lSampleSize;
  return S_OK;
}

void CameraPin::buffer_needs(ALLOCATOR_PROPERTIES& props) {
  props.cBuffers = std::max<long>(props.cBuffers, 3);
  props.cbBuffer = std::max<long>(props.cbBuffer, static_cast<long>(media_type()->lSampleSize));
}

HRESULT CameraPin::activate() {
  HRESULT hr = OutputPin::activate();
  if (FAILED(hr) || !connected()) return hr;
  stopping_ = false;
  thread_ = std::thread([this] { stream(); });
  return S_OK;
}

void CameraPin::deactivate() {
  OutputPin::deactivate();
  stop_thread();
}

void CameraPin::stop_thread() {
  stopping_ = true;
  wake();
  if (thread_.joinable()) thread_.join();
}

void CameraPin::stream() {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const REFERENCE_TIME period = camera_.period();
  const auto format = format_of(media_type()->subtype).value_or(PixelFormat::kRgb24);
  const long size = static_cast<long>(media_type()->lSampleSize);
  REFERENCE_TIME next = 0;
  bool first = true;
  bool refused = false;  // downstream refused a sample: wait for the next run
  const double run_started = process_seconds();
  while (!stopping_) {
    if (camera_.state() != State_Running) {
      refused = false;
      wait(100);
      continue;
    }
    if (refused || !camera_.delivering(run_started)) {
      wait(50);
      continue;
    }
    const REFERENCE_TIME now = camera_.stream_time();
    if (now < next) {
      wait(static_cast<DWORD>((next - now + 9999) / 10000));
      continue;
    }
    // A late camera skips the frames it missed rather than deliver them in a burst.
    if (now - next >= period) next = now / period * period;

    ComPtr<IMediaSample> sample;
    if (FAILED(get_buffer(&sample)) || !sample) {
      wait(10);
      continue;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < size) {
      wait(10);
      continue;
    }
    // The scene's time, on the process clock and the frame grid; the sample's media time
    // carries it, so a reader can tell which scene it shows.
    LONGLONG scene = static_cast<LONGLONG>(process_seconds() * kUnitsPerSecond) / period * period;
    camera_.source().fill(next, scene, period, format, data);
    LONGLONG scene_end = scene + period;
    sample->SetMediaTime(&scene, &scene_end);
    sample->SetActualDataLength(size);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(first ? TRUE : FALSE);
    if (time_stamps_) {
      REFERENCE_TIME start = next, end = next + period;
      sample->SetTime(&start, &end);
    } else {
      sample->SetTime(nullptr, nullptr);
    }
    // Samples outside the interval that stream control lets flow are not delivered.
    const HRESULT hr =
        stream_control_.should_deliver(next, next + period) ? deliver(sample.get()) : S_OK;
    stream_control_.send_notifications(camera_);
    sample = nullptr;
    first = false;
    next += period;
    if (hr != S_OK) refused = true;
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
}

}  // namespace

HRESULT create_camera(CameraModel model, IUnknown** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::string size_text = environment("TALVEX_TESTCAM_SIZE");
  const std::string fps_text = environment("TALVEX_TESTCAM_FPS");
  const std::string dropout_text = environment("TALVEX_TESTCAM_DROPOUT");
  const CameraConfig config =
      camera_config(size_text.c_str(), fps_text.c_str(), dropout_text.c_str());
  const bool preview_everywhere = environment("TALVEX_TESTCAM_PREVIEW_PIN") == "1";
  CameraFilter* filter = nullptr;
  switch (model) {
    case CameraModel::kTest:
      filter = new CameraFilter(kClsidTestCamera,
                                std::make_unique<SceneSource>(SceneKind::kMoving, config.size),
                                config.fps, preview_everywhere, config.dropout);
      break;
    case CameraModel::kStill:
      filter = new CameraFilter(kClsidStillCamera,
                                std::make_unique<SceneSource>(SceneKind::kStill, config.size),
                                config.fps, true, config.dropout);
      break;
    case CameraModel::kReplay:
      filter = new CameraFilter(kClsidReplayCamera, std::make_unique<ReplaySource>(config.size),
                                config.fps, preview_everywhere, config.dropout);
      break;
  }
  if (!filter) return E_INVALIDARG;
  *out = static_cast<IBaseFilter*>(filter);
  return S_OK;
}

}  // namespace talvex::filters
