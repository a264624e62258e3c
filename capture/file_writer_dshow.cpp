// The file writer: a filter with one input pin. An upstream multiplexer that writes
// through IStream (seeking back to fill in its headers) asks the pin for one; each stream
// handed out creates the file anew and closes it when the multiplexer lets go of it, which
// it does once the file is complete. A multiplexer that delivers samples instead has them
// written at the byte offset carried in their start time.
#include "capture/file_writer_dshow.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace talvex {
namespace {

// {5C0B8A1E-7F1B-4C52-9D44-2B0E6A3F1C01}
constexpr CLSID kFileWriterClassId = {
    0x5c0b8a1e, 0x7f1b, 0x4c52, {0x9d, 0x44, 0x2b, 0x0e, 0x6a, 0x3f, 0x1c, 0x01}};
constexpr wchar_t kPinName[] = L"in";

// A file behind IStream, created anew; closed when the last reference goes.
class FileStream final : public IStream {
 public:
  static ComPtr<IStream> create(const std::wstring& name) {
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    ComPtr<IStream> stream;
    stream.attach(new FileStream(file));
    return stream;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) override {
    DWORD n = 0;
    const BOOL ok = ::ReadFile(file_, data, size, &n, nullptr);
    if (read) *read = n;
    return ok ? (n == size ? S_OK : S_FALSE) : STG_E_READFAULT;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override {
    DWORD n = 0;
    const BOOL ok = ::WriteFile(file_, data, size, &n, nullptr);
    if (written) *written = n;
    return ok && n == size ? S_OK : STG_E_WRITEFAULT;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* position) override {
    LARGE_INTEGER now;
    if (!::SetFilePointerEx(file_, move, &now, origin)) return STG_E_INVALIDFUNCTION;
    if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    LARGE_INTEGER here{}, zero{}, target;
    ::SetFilePointerEx(file_, zero, &here, FILE_CURRENT);
    target.QuadPart = static_cast<LONGLONG>(size.QuadPart);
    const bool ok = ::SetFilePointerEx(file_, target, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_);
    ::SetFilePointerEx(file_, here, nullptr, FILE_BEGIN);
    return ok ? S_OK : STG_E_MEDIUMFULL;
  }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
    return ::FlushFileBuffers(file_) ? S_OK : STG_E_WRITEFAULT;
  }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file_, &size))
      stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  explicit FileStream(HANDLE file) : file_(file) {}
  ~FileStream() { ::CloseHandle(file_); }

  std::atomic<ULONG> references_{1};
  HANDLE file_;
};

// An enumerator over no media types: the writer takes whatever the multiplexer offers.
class NoMediaTypes final : public IEnumMediaTypes {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes) {
      *out = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG, AM_MEDIA_TYPE**, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = new NoMediaTypes;
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
};

class FileWriter;

// The input pin. Its references are the filter's.
class WriterPin final : public IPin, public IMemInputPin {
 public:
  explicit WriterPin(FileWriter& filter) : filter_(filter) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override {
    std::lock_guard<std::mutex> lock(pin_lock_);
    if (!connector) return E_POINTER;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    peer_ = ComPtr<IPin>(connector);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    std::lock_guard<std::mutex> lock(pin_lock_);
    if (!peer_) return S_FALSE;
    peer_.reset();
    sample_stream_.reset();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> lock(pin_lock_);
    *pin = nullptr;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    *pin = peer_.get();
    (*pin)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    *type = AM_MEDIA_TYPE{};
    std::lock_guard<std::mutex> lock(pin_lock_);
    if (!peer_) return VFW_E_NOT_CONNECTED;
    type->majortype = MEDIATYPE_Stream;
    type->subtype = MEDIASUBTYPE_Avi;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(sizeof kPinName));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, kPinName, sizeof kPinName);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override {
    if (!types) return E_POINTER;
    *types = new NoMediaTypes;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return S_OK;
  }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count,
                                            long* processed) override {
    long done = 0;
    HRESULT hr = S_OK;
    for (; done < count && hr == S_OK; ++done) hr = Receive(samples[done]);
    if (processed) *processed = done;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

 private:
  FileWriter& filter_;
  std::mutex pin_lock_;  // guards peer_ and sample_stream_
  ComPtr<IPin> peer_;
  ComPtr<IStream> sample_stream_;
};

class FileWriter final : public IBaseFilter {
 public:
  explicit FileWriter(const wchar_t* file_name) : file_name_(file_name), pin_(*this) {}

  const std::wstring& file_name() const { return file_name_; }
  IBaseFilter* self() { return this; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
        iid == IID_IBaseFilter) {
      *out = static_cast<IBaseFilter*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    if (!id) return E_POINTER;
    *id = kFileWriterClassId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    state_ = State_Stopped;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    state_ = State_Paused;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
    state_ = State_Running;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
    std::lock_guard<std::mutex> lock(filter_lock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_lock_);
    *clock = clock_.get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    if (::lstrcmpW(id, kPinName) != 0) return VFW_E_NOT_FOUND;
    *pin = &pin_;
    pin_.AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_lock_);
    ::lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    // The graph holds the filter; the filter keeps only a weak pointer back.
    std::lock_guard<std::mutex> lock(filter_lock_);
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  IPin* pin() { return &pin_; }

 private:
  std::atomic<ULONG> references_{1};
  std::wstring file_name_;
  WriterPin pin_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  std::mutex filter_lock_;  // guards graph_, name_ and clock_
  IFilterGraph* graph_ = nullptr;
  std::wstring name_;
  ComPtr<IReferenceClock> clock_;
};

// Enumerates the filter's one pin.
class OnePin final : public IEnumPins {
 public:
  explicit OnePin(IPin* pin, ULONG position = 0) : pin_(pin), position_(position) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumPins) {
      *out = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
      pins[0] = pin_.get();
      pins[0]->AddRef();
      position_ = n = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const bool all = position_ + count <= 1;
    position_ = position_ + count > 1 ? 1 : position_ + count;
    return all ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new OnePin(pin_.get(), position_);
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
  ComPtr<IPin> pin_;
  ULONG position_;
};

HRESULT FileWriter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new OnePin(&pin_);
  return S_OK;
}

HRESULT WriterPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IPin) {
    *out = static_cast<IPin*>(this);
  } else if (iid == IID_IMemInputPin) {
    *out = static_cast<IMemInputPin*>(this);
  } else if (iid == IID_IStream) {
    // A multiplexer that writes through a stream: the file starts here.
    ComPtr<IStream> stream = FileStream::create(filter_.file_name());
    if (!stream) return E_FAIL;
    *out = stream.detach();
    return S_OK;
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG WriterPin::AddRef() { return filter_.AddRef(); }
ULONG WriterPin::Release() { return filter_.Release(); }

HRESULT WriterPin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_.self();
  info->pFilter->AddRef();
  info->dir = PINDIR_INPUT;
  ::lstrcpynW(info->achName, kPinName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT WriterPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  std::lock_guard<std::mutex> lock(pin_lock_);
  if (!sample_stream_) sample_stream_ = FileStream::create(filter_.file_name());
  if (!sample_stream_) return E_FAIL;
  REFERENCE_TIME start = 0, end = 0;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data))) return E_FAIL;
  if (SUCCEEDED(sample->GetTime(&start, &end))) {
    LARGE_INTEGER offset;
    offset.QuadPart = start;
    sample_stream_->Seek(offset, STREAM_SEEK_SET, nullptr);
  }
  return sample_stream_->Write(data, static_cast<ULONG>(sample->GetActualDataLength()), nullptr);
}

}  // namespace

ComPtr<IBaseFilter> make_file_writer(const wchar_t* file_name) {
  ComPtr<IBaseFilter> filter;
  filter.attach(new FileWriter(file_name));
  return filter;
}

}  // namespace talvex
