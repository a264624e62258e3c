#include "dshow/dshow_base_dshow.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

namespace talvex::dshow {

std::atomic<long>& live_objects() {
  static std::atomic<long> count{0};
  return count;
}

// --- media types -------------------------------------------------------------------------

void free_media_type(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) ::CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

HRESULT copy_media_type(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
  dst = src;
  dst.pbFormat = nullptr;
  dst.cbFormat = 0;
  if (src.cbFormat && src.pbFormat) {
    dst.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(src.cbFormat));
    if (!dst.pbFormat) return E_OUTOFMEMORY;
    std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
    dst.cbFormat = src.cbFormat;
  }
  if (dst.pUnk) dst.pUnk->AddRef();
  return S_OK;
}

void delete_media_type(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  free_media_type(*mt);
  ::CoTaskMemFree(mt);
}

bool media_type_matches(const AM_MEDIA_TYPE& partial, const AM_MEDIA_TYPE& candidate) {
  auto field = [](const GUID& want, const GUID& have) {
    return IsEqualGUID(want, GUID_NULL) || IsEqualGUID(want, have);
  };
  return field(partial.majortype, candidate.majortype) &&
         field(partial.subtype, candidate.subtype) &&
         field(partial.formattype, candidate.formattype);
}

const VIDEOINFOHEADER* MediaType::video_info() const {
  if (!IsEqualGUID(mt_.formattype, FORMAT_VideoInfo) || !mt_.pbFormat ||
      mt_.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return nullptr;
  }
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt_.pbFormat);
}

// --- enumerators ---------------------------------------------------------------------------

namespace {

class MediaTypeEnum : public IEnumMediaTypes {
 public:
  MediaTypeEnum(std::vector<MediaType> types, std::size_t position)
      : types_(std::move(types)), position_(position) {
    ++live_objects();
  }
  virtual ~MediaTypeEnum() { --live_objects(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
      *out = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < types_.size()) {
      auto* mt = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
      if (!mt || FAILED(copy_media_type(*mt, types_[position_].get()))) {
        ::CoTaskMemFree(mt);
        break;
      }
      out[n++] = mt;
      ++position_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    position_ = std::min(types_.size(), position_ + count);
    return position_ < types_.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = new MediaTypeEnum(types_, position_);
    return S_OK;
  }

 private:
  LONG references_ = 1;
  std::vector<MediaType> types_;
  std::size_t position_;
};

class PinEnum : public IEnumPins {
 public:
  PinEnum(FilterBase* filter, int position) : filter_(filter), position_(position) {
    ++live_objects();
  }
  virtual ~PinEnum() { --live_objects(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
      *out = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, IPin** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < filter_->pin_count()) {
      IPin* pin = filter_->pin(position_++);
      pin->AddRef();
      out[n++] = pin;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    position_ = std::min(filter_->pin_count(), position_ + static_cast<int>(count));
    return position_ < filter_->pin_count() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new PinEnum(filter_.get(), position_);
    return S_OK;
  }

 private:
  LONG references_ = 1;
  ComPtr<FilterBase> filter_;
  int position_;
};

}  // namespace

HRESULT create_media_type_enum(std::vector<MediaType> types, IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new MediaTypeEnum(std::move(types), 0);
  return S_OK;
}

// --- pins ---------------------------------------------------------------------------------

HRESULT PinCore::connected_to(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_.copy_to(pin);
}

HRESULT PinCore::connection_media_type(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  ZeroMemory(mt, sizeof(*mt));
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return copy_media_type(*mt, mt_.get());
}

HRESULT PinCore::query_pin_info(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = direction_;
  std::wcsncpy(info->achName, name_.c_str(), MAX_PIN_NAME - 1);
  info->achName[MAX_PIN_NAME - 1] = L'\0';
  return S_OK;
}

HRESULT PinCore::query_id(LPWSTR* id) {
  if (!id) return E_POINTER;
  const std::size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, name_.c_str(), bytes);
  return S_OK;
}

STDMETHODIMP OutputPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
    *out = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  return query_extra(iid, out);
}
STDMETHODIMP_(ULONG) OutputPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) OutputPin::Release() { return filter_.Release(); }

STDMETHODIMP OutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
  if (!receiver) return E_POINTER;
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION direction;
  if (FAILED(receiver->QueryDirection(&direction)) || direction != PINDIR_INPUT) {
    return VFW_E_INVALID_DIRECTION;
  }
  AM_MEDIA_TYPE any{};
  const AM_MEDIA_TYPE& wanted = mt ? *mt : any;
  const bool complete = mt && !IsEqualGUID(mt->majortype, GUID_NULL) &&
                        !IsEqualGUID(mt->subtype, GUID_NULL) &&
                        !IsEqualGUID(mt->formattype, GUID_NULL);
  if (complete) return try_connect(receiver, *mt);

  // Our own types first, in our order of preference, then the receiver's.
  for (int i = 0;; ++i) {
    MediaType candidate;
    if (get_media_type(i, candidate) != S_OK) break;
    if (media_type_matches(wanted, candidate.get()) &&
        SUCCEEDED(try_connect(receiver, candidate.get()))) {
      return S_OK;
    }
  }
  ComPtr<IEnumMediaTypes> types;
  if (SUCCEEDED(receiver->EnumMediaTypes(&types)) && types) {
    AM_MEDIA_TYPE* candidate = nullptr;
    while (types->Next(1, &candidate, nullptr) == S_OK) {
      const bool ok =
          media_type_matches(wanted, *candidate) && SUCCEEDED(try_connect(receiver, *candidate));
      delete_media_type(candidate);
      if (ok) return S_OK;
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::try_connect(IPin* receiver, const AM_MEDIA_TYPE& mt) {
  if (check_media_type(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  connected_ = ComPtr<IPin>(receiver);
  mt_.reset();
  copy_media_type(mt_.get(), mt);
  HRESULT hr = receiver->ReceiveConnection(this, &mt);
  if (FAILED(hr)) {
    release_connection();
    return hr;
  }
  ComPtr<IMemInputPin> input;
  hr = receiver->QueryInterface(IID_IMemInputPin, input.out_void());
  if (SUCCEEDED(hr)) hr = decide_allocator(input.get());
  if (FAILED(hr)) {
    receiver->Disconnect();
    release_connection();
    return hr;
  }
  input_ = input;
  return S_OK;
}

HRESULT OutputPin::decide_allocator(IMemInputPin* input) {
  ALLOCATOR_PROPERTIES request{};
  input->GetAllocatorRequirements(&request);
  ALLOCATOR_PROPERTIES wanted = request;
  buffer_needs(wanted);
  wanted.cbAlign = std::max<long>(1, request.cbAlign);
  wanted.cbPrefix = request.cbPrefix;

  auto try_allocator = [&](IMemAllocator* allocator) -> HRESULT {
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < wanted.cbBuffer) return E_FAIL;
    return input->NotifyAllocator(allocator, FALSE);
  };

  ComPtr<IMemAllocator> allocator;
  if (SUCCEEDED(input->GetAllocator(&allocator)) && allocator &&
      SUCCEEDED(try_allocator(allocator.get()))) {
    allocator_ = allocator;
    return S_OK;
  }
  HRESULT hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IMemAllocator, allocator.out_void());
  if (FAILED(hr)) return hr;
  hr = try_allocator(allocator.get());
  if (FAILED(hr)) return hr;
  allocator_ = allocator;
  return S_OK;
}

void OutputPin::release_connection() {
  allocator_ = nullptr;
  input_ = nullptr;
  connected_ = nullptr;
  mt_.reset();
}

STDMETHODIMP OutputPin::Disconnect() {
  if (!connected_) return S_FALSE;
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  release_connection();
  return S_OK;
}

STDMETHODIMP OutputPin::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = PINDIR_OUTPUT;
  return S_OK;
}

STDMETHODIMP OutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  return check_media_type(*mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP OutputPin::EnumMediaTypes(IEnumMediaTypes** out) {
  std::vector<MediaType> types;
  for (int i = 0;; ++i) {
    MediaType mt;
    if (get_media_type(i, mt) != S_OK) break;
    types.push_back(mt);
  }
  return create_media_type_enum(std::move(types), out);
}

HRESULT OutputPin::activate() { return allocator_ ? allocator_->Commit() : S_OK; }

void OutputPin::deactivate() {
  if (allocator_) allocator_->Decommit();
}

HRESULT OutputPin::get_buffer(IMediaSample** sample) {
  if (!allocator_) return VFW_E_NOT_CONNECTED;
  return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT OutputPin::deliver(IMediaSample* sample) {
  if (!input_) return VFW_E_NOT_CONNECTED;
  return input_->Receive(sample);
}

void OutputPin::deliver_end_of_stream() {
  if (connected_) connected_->EndOfStream();
}

STDMETHODIMP InputPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
    *out = static_cast<IPin*>(this);
  } else if (IsEqualIID(iid, IID_IMemInputPin)) {
    *out = static_cast<IMemInputPin*>(this);
  } else {
    return query_extra(iid, out);
  }
  AddRef();
  return S_OK;
}
STDMETHODIMP_(ULONG) InputPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) InputPin::Release() { return filter_.Release(); }

STDMETHODIMP InputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (!connector || !mt) return E_POINTER;
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION direction;
  if (FAILED(connector->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
    return VFW_E_INVALID_DIRECTION;
  }
  if (check_media_type(*mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  connected_ = ComPtr<IPin>(connector);
  mt_.reset();
  copy_media_type(mt_.get(), *mt);
  on_connected();
  return S_OK;
}

STDMETHODIMP InputPin::Disconnect() {
  if (!connected_) return S_FALSE;
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  connected_ = nullptr;
  allocator_ = nullptr;
  mt_.reset();
  on_disconnected();
  return S_OK;
}

STDMETHODIMP InputPin::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = PINDIR_INPUT;
  return S_OK;
}

STDMETHODIMP InputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  return check_media_type(*mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP InputPin::EnumMediaTypes(IEnumMediaTypes** out) {
  std::vector<MediaType> types;
  for (int i = 0;; ++i) {
    MediaType mt;
    if (get_media_type(i, mt) != S_OK) break;
    types.push_back(mt);
  }
  return create_media_type_enum(std::move(types), out);
}

STDMETHODIMP InputPin::BeginFlush() {
  flushing_ = true;
  return begin_flush();
}

STDMETHODIMP InputPin::EndFlush() {
  flushing_ = false;
  return end_flush();
}

STDMETHODIMP InputPin::GetAllocator(IMemAllocator** out) {
  if (!out) return E_POINTER;
  if (!allocator_) {
    HRESULT hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IMemAllocator, allocator_.out_void());
    if (FAILED(hr)) return hr;
  }
  return allocator_.copy_to(out);
}

STDMETHODIMP InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  allocator_ = ComPtr<IMemAllocator>(allocator);
  return S_OK;
}

STDMETHODIMP InputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  if (filter_.state() == State_Stopped) return VFW_E_WRONG_STATE;
  if (flushing_) return S_FALSE;
  return receive(sample);
}

STDMETHODIMP InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
  if (!samples || !done) return E_POINTER;
  HRESULT hr = S_OK;
  for (*done = 0; *done < count; ++*done) {
    hr = Receive(samples[*done]);
    if (hr != S_OK) break;
  }
  return hr;
}

// --- filter -------------------------------------------------------------------------------

FilterBase::FilterBase(const CLSID& clsid) : clsid_(clsid) { ++live_objects(); }

FilterBase::~FilterBase() { --live_objects(); }

STDMETHODIMP FilterBase::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) ||
      IsEqualIID(iid, IID_IMediaFilter) || IsEqualIID(iid, IID_IBaseFilter)) {
    *out = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  return query_extra(iid, out);
}

STDMETHODIMP_(ULONG) FilterBase::AddRef() { return ::InterlockedIncrement(&references_); }

STDMETHODIMP_(ULONG) FilterBase::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP FilterBase::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP FilterBase::Stop() {
  const FILTER_STATE old = state_.exchange(State_Stopped);
  on_state_change();
  if (old != State_Stopped) {
    // Decommitting first releases a streaming thread that waits for a buffer.
    for (int i = 0; i < pin_count(); ++i) {
      PIN_DIRECTION dir;
      IPin* p = pin(i);
      if (SUCCEEDED(p->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) {
        static_cast<OutputPin*>(p)->deactivate();
      }
    }
    on_deactivate();
  }
  return S_OK;
}

STDMETHODIMP FilterBase::Pause() {
  if (state_ == State_Stopped) {
    for (int i = 0; i < pin_count(); ++i) {
      PIN_DIRECTION dir;
      IPin* p = pin(i);
      if (SUCCEEDED(p->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) {
        HRESULT hr = static_cast<OutputPin*>(p)->activate();
        if (FAILED(hr)) return hr;
      }
    }
    state_ = State_Paused;
    HRESULT hr = on_activate();
    if (FAILED(hr)) {
      Stop();
      return hr;
    }
  }
  state_ = State_Paused;
  on_state_change();
  return is_live_source() ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP FilterBase::Run(REFERENCE_TIME start) {
  if (state_ == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  {
    std::lock_guard<std::mutex> hold(clock_lock);
    start_time_ = start;
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    run_counter_start_ = counter.QuadPart;
  }
  state_ = State_Running;
  on_state_change();
  return S_OK;
}

STDMETHODIMP FilterBase::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return (*state == State_Paused && is_live_source()) ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP FilterBase::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::mutex> hold(clock_lock);
  clock_ = ComPtr<IReferenceClock>(clock);
  return S_OK;
}

STDMETHODIMP FilterBase::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::mutex> hold(clock_lock);
  return clock_.copy_to(clock);
}

REFERENCE_TIME FilterBase::stream_time() {
  std::lock_guard<std::mutex> hold(clock_lock);
  if (clock_) {
    REFERENCE_TIME now = 0;
    if (SUCCEEDED(clock_->GetTime(&now))) return now - start_time_;
  }
  LARGE_INTEGER counter, frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  const LONGLONG ticks = counter.QuadPart - run_counter_start_;
  return static_cast<REFERENCE_TIME>(ticks / frequency.QuadPart * 10'000'000 +
                                     ticks % frequency.QuadPart * 10'000'000 / frequency.QuadPart);
}

void FilterBase::notify_event(long code, LONG_PTR p1, LONG_PTR p2) {
  if (!graph_) return;
  ComPtr<IMediaEventSink> sink;
  if (SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, sink.out_void()))) {
    sink->Notify(code, p1, p2);
  }
}

STDMETHODIMP FilterBase::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new PinEnum(this, 0);
  return S_OK;
}

STDMETHODIMP FilterBase::FindPin(LPCWSTR id, IPin** out) {
  if (!id || !out) return E_POINTER;
  *out = nullptr;
  for (int i = 0; i < pin_count(); ++i) {
    PIN_INFO info;
    IPin* p = pin(i);
    if (SUCCEEDED(p->QueryPinInfo(&info))) {
      if (info.pFilter) info.pFilter->Release();
      if (std::wcscmp(info.achName, id) == 0) {
        p->AddRef();
        *out = p;
        return S_OK;
      }
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
  info->achName[MAX_FILTER_NAME - 1] = L'\0';
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  graph_ = graph;
  name_ = name ? name : L"";
  return S_OK;
}

}  // namespace talvex::dshow
