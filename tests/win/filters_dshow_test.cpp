// Our filter DLLs under Wine, for real: the test cameras (talvex_filters.dll) and the
// compressor (talvex_codec.dll), each registered with regsvr32 on its own, the two device
// categories, the cameras' frames through a sample grabber (checked pixel for pixel against
// the scene and the replayed BMP files), and MJPEG recordings through the capture program's
// recorder, which tests/win/check_avi.sh then checks with ffprobe and decodes with ffmpeg.
#include <gtest/gtest.h>

#include <windows.h>

#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture/recorder_filter_dshow.h"
#include "codec/codec_ids.h"
#include "common/com_ptr_win.h"
#include "common/sample_grabber_win.h"
#include "filters/filter_ids.h"
#include "filters/rgb_image.h"
#include "filters/test_scene.h"

namespace {

using talvex::ComPtr;
using namespace talvex::filters;
using talvex::codec::kMjpegCompressorName;

std::wstring exe_folder() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

constexpr const wchar_t* kCamerasDll = L"talvex_filters.dll";
constexpr const wchar_t* kCodecDll = L"talvex_codec.dll";

std::wstring dll_path(const wchar_t* dll) { return exe_folder() + L"\\" + dll; }

// Where the recordings are left for tests/win/check_avi.sh: <build tree>/filters_avi.
std::wstring avi_folder() { return exe_folder() + L"\\..\\filters_avi"; }

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c < 128 ? c : '?');
  return out;
}

// Runs a Windows program and returns its exit code.
DWORD run_process(const std::wstring& command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring command = command_line;
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  DWORD exit_code = 0xFFFFFFFF;
  ::WaitForSingleObject(process.hProcess, 60000);
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return exit_code;
}

DWORD regsvr32(bool unregister, const wchar_t* dll) {
  return run_process(std::wstring(L"regsvr32 /s ") + (unregister ? L"/u " : L"") + L"\"" +
                     dll_path(dll) + L"\"");
}

// Both DLLs; the exit code of the first that fails.
DWORD regsvr32(bool unregister) {
  const DWORD cameras = regsvr32(unregister, kCamerasDll);
  const DWORD codec = regsvr32(unregister, kCodecDll);
  return cameras != 0 ? cameras : codec;
}

std::string unix_path(const std::wstring& windows_path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!to_unix) return {};
  char* path = to_unix(windows_path.c_str());
  if (!path) return {};
  std::string result = path;
  ::HeapFree(::GetProcessHeap(), 0, path);
  return result;
}

std::vector<std::wstring> friendly_names(const GUID& category) {
  std::vector<std::wstring> names;
  ComPtr<ICreateDevEnum> devices;
  if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.out_void()))) {
    return names;
  }
  ComPtr<IEnumMoniker> monikers;
  if (devices->CreateClassEnumerator(category, &monikers, 0) != S_OK) return names;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.out_void()))) {
      continue;
    }
    VARIANT name;
    ::VariantInit(&name);
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
      names.push_back(name.bstrVal);
    }
    ::VariantClear(&name);
  }
  return names;
}

ComPtr<IBaseFilter> bind_filter(const GUID& category, const std::wstring& wanted) {
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.out_void())) ||
      devices->CreateClassEnumerator(category, &monikers, 0) != S_OK) {
    return {};
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.out_void()))) {
      continue;
    }
    VARIANT name;
    ::VariantInit(&name);
    const bool match = SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) &&
                       name.vt == VT_BSTR && wanted == name.bstrVal;
    ::VariantClear(&name);
    if (match) {
      ComPtr<IBaseFilter> filter;
      moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.out_void());
      return filter;
    }
  }
  return {};
}

ComPtr<IPin> find_pin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) return {};
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  }
  return {};
}

// Sets an environment variable for the life of the object (the cameras read theirs when
// they are created).
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[1024];
    const DWORD n = ::GetEnvironmentVariableW(name, old, 1024);
    had_ = n > 0 && n < 1024;
    if (had_) old_.assign(old, n);
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring old_;
};

// A fresh folder under the Windows temporary folder, removed with its files.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"talvex_filters_" + std::to_wstring(::GetCurrentProcessId()) +
            L"_" + std::to_wstring(counter_++);
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        ::DeleteFileW((path_ + L"\\" + found.cFileName).c_str());
      } while (::FindNextFileW(find, &found));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }
  std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  static inline int counter_ = 0;
  std::wstring path_;
};

void write_file(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  ::CloseHandle(file);
}

std::vector<std::uint8_t> bmp24_file(const Rgb24Image& image) {
  const std::size_t stride = row_stride(image.width, PixelFormat::kRgb24);
  const std::size_t pixels = stride * image.height;
  std::vector<std::uint8_t> bytes(54 + pixels, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, image.width);
  put32(22, image.height);
  bytes[26] = 1;
  bytes[28] = 24;
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(bytes.data() + 54 + stride * y, image.row(y), image.width * 3);
  }
  return bytes;
}

// Counts the grabbed samples and checks each one with `expected`.
class FrameChecker : public ISampleGrabberCB {
 public:
  using Expected =
      std::function<bool(REFERENCE_TIME time, LONGLONG scene, const BYTE* data, long size)>;
  explicit FrameChecker(Expected expected) : expected_(std::move(expected)) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
      *out = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // lives on the test's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }  // and outlives the graph
  STDMETHODIMP SampleCB(double, IMediaSample* sample) override {
    REFERENCE_TIME start = 0, end = 0;
    LONGLONG scene = -1, scene_end = -1;
    BYTE* data = nullptr;
    sample->GetMediaTime(&scene, &scene_end);
    if (sample->GetTime(&start, &end) != S_OK || FAILED(sample->GetPointer(&data))) {
      ++untimed;
    } else if (!expected_(start, scene, data, sample->GetActualDataLength())) {
      ++mismatches;
    }
    ++frames;
    return S_OK;
  }
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

  std::atomic<int> frames{0};
  std::atomic<int> mismatches{0};
  std::atomic<int> untimed{0};

 private:
  Expected expected_;
};

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

PixelFormat screen_format() {
  HDC screen = ::GetDC(nullptr);
  const int bits = ::GetDeviceCaps(screen, BITSPIXEL);
  ::ReleaseDC(nullptr, screen);
  return bits == 32 ? PixelFormat::kRgb32 : bits == 16 ? PixelFormat::kRgb555 : PixelFormat::kRgb24;
}

ComPtr<IBaseFilter> make_grabber(PixelFormat format, ComPtr<ISampleGrabber>& grabber) {
  ComPtr<IBaseFilter> filter;
  if (FAILED(::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.out_void())) ||
      FAILED(filter.as(IID_ISampleGrabber, grabber))) {
    return {};
  }
  AM_MEDIA_TYPE mt{};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = subtype_of(format);
  grabber->SetMediaType(&mt);
  grabber->SetBufferSamples(TRUE);
  return filter;
}

// Runs a graph until `done` or the time is up, and stops it.
void run_graph(IGraphBuilder* graph, DWORD max_ms, const std::function<bool()>& done) {
  ComPtr<IMediaControl> control;
  ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IMediaControl, control.out_void()));
  ASSERT_HRESULT_SUCCEEDED(control->Run());
  const ULONGLONG start = ::GetTickCount64();
  while (::GetTickCount64() - start < max_ms && !done()) ::Sleep(50);
  control->Stop();
}

class FiltersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_EQ(regsvr32(false), 0u);
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(regsvr32(true), 0u);
    ::CoUninitialize();
  }
};

bool contains(const std::vector<std::wstring>& names, const std::wstring& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(FiltersTest, RegistrationListsEveryFilterByFriendlyNameAndUnregistrationRemovesThem) {
  const std::vector<std::wstring> cameras = friendly_names(CLSID_VideoInputDeviceCategory);
  EXPECT_TRUE(contains(cameras, kTestCameraName));
  EXPECT_TRUE(contains(cameras, kStillCameraName));
  EXPECT_TRUE(contains(cameras, kReplayCameraName));
  EXPECT_TRUE(contains(friendly_names(CLSID_VideoCompressorCategory), kMjpegCompressorName));

  ASSERT_EQ(regsvr32(true), 0u);
  EXPECT_FALSE(contains(friendly_names(CLSID_VideoInputDeviceCategory), kTestCameraName));
  EXPECT_FALSE(contains(friendly_names(CLSID_VideoCompressorCategory), kMjpegCompressorName));
  ComPtr<IBaseFilter> gone;
  EXPECT_HRESULT_FAILED(::CoCreateInstance(kClsidTestCamera, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IBaseFilter, gone.out_void()));

  // Each DLL registers its own filters only: the compressor without any camera (as the
  // installer registers it), the cameras without the compressor.
  ASSERT_EQ(regsvr32(false, kCodecDll), 0u);
  EXPECT_FALSE(contains(friendly_names(CLSID_VideoInputDeviceCategory), kTestCameraName));
  EXPECT_TRUE(bind_filter(CLSID_VideoCompressorCategory, kMjpegCompressorName));
  ASSERT_EQ(regsvr32(true, kCodecDll), 0u);
  ASSERT_EQ(regsvr32(false, kCamerasDll), 0u);
  EXPECT_TRUE(bind_filter(CLSID_VideoInputDeviceCategory, kTestCameraName));
  EXPECT_FALSE(contains(friendly_names(CLSID_VideoCompressorCategory), kMjpegCompressorName));
  ASSERT_EQ(regsvr32(false, kCodecDll), 0u);
  EXPECT_TRUE(bind_filter(CLSID_VideoCompressorCategory, kMjpegCompressorName));
}

TEST_F(FiltersTest, CameraPinsAnswerTheirCategoryAndOfferTheThreeRgbFormats) {
  struct Case {
    const wchar_t* camera;
    std::vector<GUID> categories;
  };
  const Case cases[] = {
      {kTestCameraName, {PIN_CATEGORY_CAPTURE}},
      {kStillCameraName, {PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW}},
      {kReplayCameraName, {PIN_CATEGORY_CAPTURE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.camera));
    ComPtr<IBaseFilter> camera = bind_filter(CLSID_VideoInputDeviceCategory, c.camera);
    ASSERT_TRUE(camera);
    ComPtr<IEnumPins> pins;
    ASSERT_HRESULT_SUCCEEDED(camera->EnumPins(&pins));
    std::vector<GUID> categories;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      ComPtr<IKsPropertySet> properties;
      ASSERT_HRESULT_SUCCEEDED(pin.as(IID_IKsPropertySet, properties));
      GUID category{};
      DWORD returned = 0;
      ASSERT_HRESULT_SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                               &category, sizeof(category), &returned));
      EXPECT_EQ(returned, sizeof(GUID));
      categories.push_back(category);

      ComPtr<IEnumMediaTypes> types;
      ASSERT_HRESULT_SUCCEEDED(pin->EnumMediaTypes(&types));
      std::vector<GUID> subtypes;
      AM_MEDIA_TYPE* mt = nullptr;
      while (types->Next(1, &mt, nullptr) == S_OK) {
        subtypes.push_back(mt->subtype);
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
        EXPECT_TRUE(IsEqualGUID(mt->formattype, FORMAT_VideoInfo));
        EXPECT_EQ(vih->bmiHeader.biWidth, 320);
        EXPECT_EQ(vih->bmiHeader.biHeight, 240);  // bottom-up
        EXPECT_EQ(vih->AvgTimePerFrame, kUnitsPerSecond / 15);
        if (mt->cbFormat) ::CoTaskMemFree(mt->pbFormat);
        ::CoTaskMemFree(mt);
      }
      ASSERT_EQ(subtypes.size(), 3u);
      EXPECT_TRUE(IsEqualGUID(subtypes[0], subtype_of(screen_format())));
      for (const GUID& wanted : {MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB555}) {
        EXPECT_TRUE(std::any_of(subtypes.begin(), subtypes.end(),
                                [&](const GUID& g) { return IsEqualGUID(g, wanted); }));
      }
    }
    ASSERT_EQ(categories.size(), c.categories.size());
    for (std::size_t i = 0; i < categories.size(); ++i) {
      EXPECT_TRUE(IsEqualGUID(categories[i], c.categories[i]));
    }
  }
}

struct GrabResult {
  int frames = 0;
  int mismatches = 0;
  int untimed = 0;
  long buffer_size = 0;
  GUID subtype{};
  int width = 0;
  int height = 0;
  REFERENCE_TIME frame_time = 0;
};

// camera capture pin -> sample grabber (format) -> null renderer, connected pin to pin.
GrabResult grab_direct(const std::wstring& camera_name, PixelFormat format,
                       FrameChecker::Expected expected, int wanted_frames) {
  GrabResult result;
  ComPtr<IGraphBuilder> graph;
  EXPECT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IGraphBuilder, graph.out_void()));
  ComPtr<IBaseFilter> camera = bind_filter(CLSID_VideoInputDeviceCategory, camera_name);
  ComPtr<ISampleGrabber> grabber;
  ComPtr<IBaseFilter> grabber_filter = make_grabber(format, grabber);
  ComPtr<IBaseFilter> renderer;
  EXPECT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IBaseFilter, renderer.out_void()));
  if (!graph || !camera || !grabber_filter || !renderer) {
    ADD_FAILURE() << "filters missing";
    return result;
  }
  graph->AddFilter(camera.get(), L"Video Capture");
  graph->AddFilter(grabber_filter.get(), L"Sample Grabber");
  graph->AddFilter(renderer.get(), L"Null Renderer");
  ComPtr<IPin> capture;
  EXPECT_HRESULT_SUCCEEDED(camera->FindPin(L"Capture", &capture));
  HRESULT hr = graph->ConnectDirect(capture.get(),
                                    find_pin(grabber_filter.get(), PINDIR_INPUT).get(), nullptr);
  EXPECT_HRESULT_SUCCEEDED(hr);
  hr = graph->ConnectDirect(find_pin(grabber_filter.get(), PINDIR_OUTPUT).get(),
                            find_pin(renderer.get(), PINDIR_INPUT).get(), nullptr);
  EXPECT_HRESULT_SUCCEEDED(hr);
  if (FAILED(hr)) return result;

  FrameChecker checker(std::move(expected));
  grabber->SetCallback(&checker, 0);
  run_graph(graph.get(), 8000, [&] { return checker.frames >= wanted_frames; });
  grabber->SetCallback(nullptr, 0);
  result.frames = checker.frames;
  result.mismatches = checker.mismatches;
  result.untimed = checker.untimed;
  grabber->GetCurrentBuffer(&result.buffer_size, nullptr);
  AM_MEDIA_TYPE mt{};
  if (SUCCEEDED(grabber->GetConnectedMediaType(&mt))) {
    result.subtype = mt.subtype;
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo)) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
      result.width = vih->bmiHeader.biWidth;
      result.height = vih->bmiHeader.biHeight;
      result.frame_time = vih->AvgTimePerFrame;
    }
    if (mt.cbFormat) ::CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk) mt.pUnk->Release();
  }
  return result;
}

std::vector<std::uint8_t> frame_bytes(const Rgb24Image& image, PixelFormat format) {
  std::vector<std::uint8_t> frame(frame_size(image.width, image.height, format));
  convert_to_frame(image, image.width, image.height, format, frame.data());
  return frame;
}

const PixelFormat kFormats[] = {PixelFormat::kRgb24, PixelFormat::kRgb32, PixelFormat::kRgb555};

// Stream control on the camera pins, as IAMStreamControl's reference tells it: a start and
// a stop at stream times let only the samples between them through and send
// EC_STREAM_CONTROL_STARTED / _STOPPED with the pin and the cookie; NULL and MAXLONGLONG
// act at once and send nothing; a preview pin takes no times.
TEST_F(FiltersTest, CameraPinsDeliverOnlyWhileStreamControlLetsThemFlow) {
  constexpr REFERENCE_TIME kSecond = 10'000'000, kMax = 0x7FFFFFFFFFFFFFFFLL;
  ComPtr<IGraphBuilder> graph;
  ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IGraphBuilder, graph.out_void()));
  ComPtr<IBaseFilter> camera = bind_filter(CLSID_VideoInputDeviceCategory, kStillCameraName);
  ComPtr<ISampleGrabber> grabber;
  ComPtr<IBaseFilter> grabber_filter = make_grabber(screen_format(), grabber);
  ComPtr<IBaseFilter> renderer;
  ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IBaseFilter, renderer.out_void()));
  ASSERT_TRUE(camera && grabber_filter);
  graph->AddFilter(camera.get(), L"Video Capture");
  graph->AddFilter(grabber_filter.get(), L"Sample Grabber");
  graph->AddFilter(renderer.get(), L"Null Renderer");
  ComPtr<IPin> capture, preview;
  ASSERT_HRESULT_SUCCEEDED(camera->FindPin(L"Capture", &capture));
  ASSERT_HRESULT_SUCCEEDED(camera->FindPin(L"Preview", &preview));
  ASSERT_HRESULT_SUCCEEDED(graph->ConnectDirect(
      capture.get(), find_pin(grabber_filter.get(), PINDIR_INPUT).get(), nullptr));
  ASSERT_HRESULT_SUCCEEDED(graph->ConnectDirect(find_pin(grabber_filter.get(), PINDIR_OUTPUT).get(),
                                                find_pin(renderer.get(), PINDIR_INPUT).get(),
                                                nullptr));

  ComPtr<IAMStreamControl> control, preview_control;
  ASSERT_HRESULT_SUCCEEDED(capture->QueryInterface(IID_IAMStreamControl, control.out_void()));
  ASSERT_HRESULT_SUCCEEDED(
      preview->QueryInterface(IID_IAMStreamControl, preview_control.out_void()));
  const REFERENCE_TIME one = kSecond, two = 2 * kSecond, max = kMax;
  EXPECT_EQ(preview_control->StartAt(&one, 1), E_INVALIDARG);
  EXPECT_EQ(preview_control->StopAt(&one, FALSE, 1), E_INVALIDARG);
  EXPECT_EQ(preview_control->StartAt(&max, 0), S_OK);
  EXPECT_EQ(preview_control->StopAt(nullptr, FALSE, 0), S_OK);

  AM_STREAM_INFO info{};
  ASSERT_EQ(control->GetInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, 0u) << "streams flow by default";
  ASSERT_EQ(control->StartAt(&one, 11), S_OK);
  ASSERT_EQ(control->StopAt(&two, FALSE, 12), S_OK);
  ASSERT_EQ(control->GetInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags,
            static_cast<DWORD>(AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_STOP_DEFINED |
                               AM_STREAM_INFO_DISCARDING));
  EXPECT_EQ(info.tStart, one);
  EXPECT_EQ(info.tStop, two);
  EXPECT_EQ(info.dwStartCookie, 11u);
  EXPECT_EQ(info.dwStopCookie, 12u);
  EXPECT_EQ(control->GetInfo(nullptr), E_POINTER);

  REFERENCE_TIME first = kMax, last = -1;
  FrameChecker checker([&](REFERENCE_TIME time, LONGLONG, const BYTE*, long) {
    first = std::min(first, time);
    last = std::max(last, time);
    return true;
  });
  grabber->SetCallback(&checker, 0);
  ComPtr<IMediaEvent> events;
  ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IMediaEvent, events.out_void()));
  std::map<long, LONG_PTR> cookies;
  ULONGLONG both_seen = 0;  // then half a second more, to see that nothing follows
  run_graph(graph.get(), 6000, [&] {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
      if (code == EC_STREAM_CONTROL_STARTED || code == EC_STREAM_CONTROL_STOPPED) {
        EXPECT_EQ(reinterpret_cast<IPin*>(p1), capture.get()) << code;
        cookies[code] = p2;
      }
      events->FreeEventParams(code, p1, p2);
    }
    if (cookies.size() == 2 && !both_seen) both_seen = ::GetTickCount64();
    return both_seen && ::GetTickCount64() - both_seen > 500;
  });
  grabber->SetCallback(nullptr, 0);
  EXPECT_EQ(cookies[EC_STREAM_CONTROL_STARTED], 11);
  EXPECT_EQ(cookies[EC_STREAM_CONTROL_STOPPED], 12);
  // 15 frames a second: the frames of [1 s, 2 s], from the one whose span holds 1 s to the
  // one whose span holds 2 s.
  EXPECT_GE(checker.frames, 14);
  EXPECT_LE(checker.frames, 17);
  EXPECT_GT(first + kSecond / 15, one);
  EXPECT_LE(last, two);
  ASSERT_EQ(control->GetInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, static_cast<DWORD>(AM_STREAM_INFO_DISCARDING));

  // NULL starts at once, MAXLONGLONG cancels the stop; neither sends an event.
  ASSERT_EQ(control->StartAt(nullptr, 21), S_OK);
  ASSERT_EQ(control->StopAt(&max, FALSE, 22), S_OK);
  ASSERT_EQ(control->GetInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, 0u);
  FrameChecker flowing([](REFERENCE_TIME, LONGLONG, const BYTE*, long) { return true; });
  grabber->SetCallback(&flowing, 0);
  bool evented = false;
  run_graph(graph.get(), 3000, [&] {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
      evented |= code == EC_STREAM_CONTROL_STARTED || code == EC_STREAM_CONTROL_STOPPED;
      events->FreeEventParams(code, p1, p2);
    }
    return flowing.frames >= 10;
  });
  grabber->SetCallback(nullptr, 0);
  EXPECT_GE(flowing.frames, 10);
  EXPECT_FALSE(evented);
}

TEST_F(FiltersTest, TestAndStillCamerasDeliverTheSceneOfEachFramesTimeInEveryFormat) {
  const ScopedEnvironment size(L"TALVEX_TESTCAM_SIZE", L"160x120");
  const ScopedEnvironment fps(L"TALVEX_TESTCAM_FPS", L"25");
  const REFERENCE_TIME period = kUnitsPerSecond / 25;
  for (const auto& [name, kind] : {std::pair{kTestCameraName, SceneKind::kMoving},
                                   std::pair{kStillCameraName, SceneKind::kStill}}) {
    for (PixelFormat format : kFormats) {
      SCOPED_TRACE(narrow(name) + " " + std::to_string(bits_per_pixel(format)) + " bits");
      const GrabResult r = grab_direct(
          name, format,
          [&, kind = kind](REFERENCE_TIME t, LONGLONG scene, const BYTE* data, long size) {
            // The picture is the scene at the sample's media time, on the process clock.
            const auto want = frame_bytes(render_scene(kind, scene, 160, 120), format);
            return t % period == 0 && scene >= 0 && scene % period == 0 &&
                   static_cast<std::size_t>(size) == want.size() &&
                   std::memcmp(data, want.data(), want.size()) == 0;
          },
          8);
      EXPECT_GE(r.frames, 8);
      EXPECT_EQ(r.mismatches, 0);
      EXPECT_EQ(r.untimed, 0);
      EXPECT_TRUE(IsEqualGUID(r.subtype, subtype_of(format)));
      EXPECT_EQ(r.width, 160);
      EXPECT_EQ(r.height, 120);
      EXPECT_EQ(r.frame_time, period);
      EXPECT_EQ(r.buffer_size, static_cast<long>(frame_size(160, 120, format)));
    }
  }
}

TEST_F(FiltersTest, ReplayCameraPlaysTheValidBmpFilesInNameOrderWithExactPixels) {
  for (const bool unix_style : {false, true}) {
    SCOPED_TRACE(unix_style ? "folder as a Unix path" : "folder as a Windows path");
    TempFolder folder;
    std::vector<Rgb24Image> frames;
    for (int i = 0; i < 3; ++i) {
      Rgb24Image image;
      image.width = 30;  // rows of 90 bytes: padded in the files and in RGB24 frames
      image.height = 20;
      image.bgr.resize(30 * 20 * 3);
      for (std::size_t k = 0; k < image.bgr.size(); ++k) {
        image.bgr[k] = static_cast<std::uint8_t>((k * 7 + i * 85) & 0xFF);
      }
      frames.push_back(image);
    }
    // Written out of order: the camera sorts by name. Invalid files are skipped.
    write_file(folder.file(L"frame_2.bmp"), bmp24_file(frames[2]));
    write_file(folder.file(L"frame_0.bmp"), bmp24_file(frames[0]));
    write_file(folder.file(L"frame_1.bmp"), bmp24_file(frames[1]));
    write_file(folder.file(L"frame_0a.bmp"), {'B', 'M', 1, 2, 3});
    auto truncated = bmp24_file(frames[0]);
    truncated.resize(truncated.size() / 2);
    write_file(folder.file(L"frame_1a.bmp"), truncated);

    const std::wstring path = unix_style ? widen(unix_path(folder.path())) : folder.path();
    const ScopedEnvironment replay(L"TALVEX_TESTCAM_FRAMES", path);
    const ScopedEnvironment fps(L"TALVEX_TESTCAM_FPS", L"30");
    const REFERENCE_TIME period = kUnitsPerSecond / 30;
    for (PixelFormat format : kFormats) {
      SCOPED_TRACE(std::to_string(bits_per_pixel(format)) + " bits");
      const GrabResult r = grab_direct(
          kReplayCameraName, format,
          [&](REFERENCE_TIME t, LONGLONG, const BYTE* data, long size) {
            const auto want = frame_bytes(frames[(t / period) % 3], format);
            return static_cast<std::size_t>(size) == want.size() &&
                   std::memcmp(data, want.data(), want.size()) == 0;
          },
          8);
      EXPECT_GE(r.frames, 8);
      EXPECT_EQ(r.mismatches, 0);
      EXPECT_EQ(r.width, 30);
      EXPECT_EQ(r.height, 20);
    }
  }
}

// The capture program's graph: preview through the grabber at the screen's depth (a Smart
// Tee for a camera without a preview pin), capture through the MJPEG compressor into the
// recorder.
TEST_F(FiltersTest, MjpegRecordingThroughTheRecorderIsValidForFfprobeAndFfmpeg) {
  struct Case {
    const wchar_t* camera;
    HRESULT preview_result;
    const wchar_t* file;
  };
  const Case cases[] = {{kTestCameraName, VFW_S_NOPREVIEWPIN, L"test_camera.avi"},
                        {kStillCameraName, S_OK, L"still_camera.avi"}};
  const std::wstring output = avi_folder();
  ::CreateDirectoryW(output.c_str(), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.camera));
    const std::wstring avi = output + L"\\" + c.file;
    ::DeleteFileW(avi.c_str());
    ::DeleteFileW((avi + L".expect").c_str());
    ULONGLONG ran_ms = 0;
    {
      ComPtr<IGraphBuilder> graph;
      ComPtr<ICaptureGraphBuilder2> builder;
      ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IGraphBuilder, graph.out_void()));
      ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                                                  CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                                  builder.out_void()));
      builder->SetFiltergraph(graph.get());
      ComPtr<IBaseFilter> camera = bind_filter(CLSID_VideoInputDeviceCategory, c.camera);
      ComPtr<IBaseFilter> compressor =
          bind_filter(CLSID_VideoCompressorCategory, kMjpegCompressorName);
      ASSERT_TRUE(camera && compressor);
      graph->AddFilter(camera.get(), L"Video Capture");
      ComPtr<ISampleGrabber> grabber;
      ComPtr<IBaseFilter> grabber_filter = make_grabber(screen_format(), grabber);
      ASSERT_TRUE(grabber_filter);
      graph->AddFilter(grabber_filter.get(), L"Sample Grabber");
      EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera.get(),
                                      grabber_filter.get(), nullptr),
                c.preview_result);

      ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(compressor.get(), L"Compressor"));
      auto stream = std::make_shared<talvex::RecordingStream>();
      ComPtr<IBaseFilter> recorder;
      ASSERT_HRESULT_SUCCEEDED(talvex::create_recorder_filter(stream, &recorder));
      graph->AddFilter(recorder.get(), L"Recorder");
      ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.get(),
                                      compressor.get(), recorder.get()),
                S_OK);
      // The recorder writes into the current directory and names the file itself.
      wchar_t previous[MAX_PATH];
      ::GetCurrentDirectoryW(MAX_PATH, previous);
      ::SetCurrentDirectoryW(output.c_str());
      ASSERT_TRUE(stream->start(talvex::RecordingStream::Kind::kContinuous));

      const ULONGLONG start = ::GetTickCount64();
      run_graph(graph.get(), 3000, [] { return false; });
      ran_ms = ::GetTickCount64() - start;
      long grabbed = 0;
      EXPECT_EQ(grabber->GetCurrentBuffer(&grabbed, nullptr), S_OK);
      EXPECT_EQ(grabbed, static_cast<long>(frame_size(320, 240, screen_format())));
      std::string name;
      ASSERT_TRUE(stream->stop(name));
      ASSERT_FALSE(name.empty());
      EXPECT_TRUE(::MoveFileA(name.c_str(), narrow(avi).c_str()));
      ::SetCurrentDirectoryW(previous);
    }
    // ffprobe and ffmpeg are Linux programs: tests/win/check_avi.sh runs them on the file
    // after this test, with the frame range that fits how long the graph ran.
    const int expected = static_cast<int>(ran_ms * 15 / 1000);
    std::ofstream(narrow(avi) + ".expect", std::ios::binary)
        << std::max(1, expected - 8) << " " << expected + 2 << "\n";
  }
}

}  // namespace
