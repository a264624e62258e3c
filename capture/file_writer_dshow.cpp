#include "capture/file_writer_dshow.h"

#include <cstring>
#include <mutex>
#include <string>

#include "dshow/dshow_base_dshow.h"

namespace talvex {

namespace {

// {5B4B4AC1-2D38-4C55-A66F-9E0C3D1F7A21}: our writer is created directly, never registered.
constexpr GUID kClsidFileWriter = {
    0x5b4b4ac1, 0x2d38, 0x4c55, {0xa6, 0x6f, 0x9e, 0x0c, 0x3d, 0x1f, 0x7a, 0x21}};

class FileWriter;

// IStream over one open file; closing the last reference closes the file.
class FileStream : public IStream {
 public:
  FileStream(HANDLE file, FileWriter* owner);
  virtual ~FileStream();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) ||
        IsEqualIID(iid, IID_ISequentialStream)) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Read(void* data, ULONG size, ULONG* done) override {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(file_, data, size, &got, nullptr);
    if (done) *done = got;
    if (!ok) return STG_E_READFAULT;
    return got == size ? S_OK : S_FALSE;
  }
  // A write that the disk refuses (full) is dropped, not reported: the platform's
  // multiplexer reads through a null pointer after a failed write and ends the process.
  // What reached the file is judged when the recording is saved: a file torn this way is
  // rebuilt from its whole frame chunks, or reported as not saved.
  STDMETHODIMP Write(const void* data, ULONG size, ULONG* done) override {
    DWORD put = 0;
    ::WriteFile(file_, data, size, &put, nullptr);
    if (done) *done = size;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    LARGE_INTEGER now;
    if (!::SetFilePointerEx(file_, move, &now, origin)) return STG_E_INVALIDFUNCTION;
    if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
    LARGE_INTEGER here{}, zero{}, target;
    target.QuadPart = static_cast<LONGLONG>(size.QuadPart);
    if (!::SetFilePointerEx(file_, zero, &here, FILE_CURRENT) ||
        !::SetFilePointerEx(file_, target, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_)) {
      return STG_E_MEDIUMFULL;
    }
    ::SetFilePointerEx(file_, here, nullptr, FILE_BEGIN);
    return S_OK;
  }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return ::FlushFileBuffers(file_) ? S_OK : E_FAIL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    ZeroMemory(stat, sizeof(*stat));
    stat->type = STGTY_STREAM;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file_, &size))
      stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
    return S_OK;
  }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 private:
  LONG references_ = 1;
  HANDLE file_;
  FileWriter* owner_;
};

class FileWriterPin : public dshow::InputPin {
 public:
  FileWriterPin(FileWriter& writer);
  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override {
    return IsEqualGUID(mt.majortype, MEDIATYPE_Stream) ? S_OK : S_FALSE;
  }
  HRESULT receive(IMediaSample* sample) override;
  HRESULT query_extra(REFIID iid, void** out) override;

 private:
  FileWriter& writer_;
};

class FileWriter : public dshow::FilterBase, public IFileSinkFilter2 {
 public:
  FileWriter() : FilterBase(kClsidFileWriter), pin_(*this) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return FilterBase::QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return FilterBase::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return FilterBase::Release(); }

  STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
    if (!name) return E_POINTER;
    std::lock_guard<std::mutex> hold(stream_lock);
    file_name_ = name;
    return S_OK;
  }
  STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override {
    if (!name) return E_POINTER;
    std::lock_guard<std::mutex> hold(stream_lock);
    const std::size_t bytes = (file_name_.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*name) return E_OUTOFMEMORY;
    std::memcpy(*name, file_name_.c_str(), bytes);
    if (mt) {
      ZeroMemory(mt, sizeof(*mt));
      mt->majortype = MEDIATYPE_Stream;
    }
    return S_OK;
  }

  STDMETHODIMP SetMode(DWORD flags) override {
    if (flags & ~static_cast<DWORD>(AM_FILE_OVERWRITE)) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(stream_lock);
    mode_ = flags;
    return S_OK;
  }
  STDMETHODIMP GetMode(DWORD* flags) override {
    if (!flags) return E_POINTER;
    std::lock_guard<std::mutex> hold(stream_lock);
    *flags = mode_;
    return S_OK;
  }

  int pin_count() override { return 1; }
  IPin* pin(int) override { return static_cast<IPin*>(static_cast<dshow::InputPin*>(&pin_)); }

  // The stream on the file, opened on first demand.
  HRESULT stream(IStream** out) {
    std::lock_guard<std::mutex> hold(stream_lock);
    if (stream_) {
      stream_->AddRef();
      *out = stream_;
      return S_OK;
    }
    if (file_name_.empty()) return E_UNEXPECTED;
    const DWORD disposition = (mode_ & AM_FILE_OVERWRITE) ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE file = ::CreateFileW(file_name_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());
    stream_ = new FileStream(file, this);
    *out = stream_;
    return S_OK;
  }
  void stream_closed(FileStream* stream) {
    std::lock_guard<std::mutex> hold(stream_lock);
    if (stream_ == stream) stream_ = nullptr;
  }

 protected:
  HRESULT query_extra(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IFileSinkFilter) || IsEqualIID(iid, IID_IFileSinkFilter2)) {
      *out = static_cast<IFileSinkFilter2*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  FileWriterPin pin_;
  std::mutex stream_lock;  // guards file_name_, mode_ and stream_
  std::wstring file_name_;
  DWORD mode_ = AM_FILE_OVERWRITE;
  FileStream* stream_ = nullptr;  // not counted: the stream tells us when it closes
};

// A stream counts a reference on its writer, so the writer outlives it.
FileStream::FileStream(HANDLE file, FileWriter* owner) : file_(file), owner_(owner) {
  owner_->AddRef();
  ++dshow::live_objects();
}

FileStream::~FileStream() {
  ::CloseHandle(file_);
  owner_->stream_closed(this);
  owner_->Release();
  --dshow::live_objects();
}

STDMETHODIMP_(ULONG) FileStream::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return left;
}

FileWriterPin::FileWriterPin(FileWriter& writer) : InputPin(writer, L"in"), writer_(writer) {}

HRESULT FileWriterPin::query_extra(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IStream)) return writer_.stream(reinterpret_cast<IStream**>(out));
  *out = nullptr;
  return E_NOINTERFACE;
}

// Samples, for writers that deliver them: the start time is the byte offset.
HRESULT FileWriterPin::receive(IMediaSample* sample) {
  REFERENCE_TIME start = 0, end = 0;
  BYTE* data = nullptr;
  if (FAILED(sample->GetTime(&start, &end)) || FAILED(sample->GetPointer(&data))) return S_OK;
  ComPtr<IStream> stream;
  HRESULT hr = writer_.stream(&stream);
  if (FAILED(hr)) return hr;
  LARGE_INTEGER offset;
  offset.QuadPart = start;
  hr = stream->Seek(offset, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(hr))
    hr = stream->Write(data, static_cast<ULONG>(sample->GetActualDataLength()), nullptr);
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace

HRESULT create_file_writer(IBaseFilter** out) {
  if (!out) return E_POINTER;
  *out = new FileWriter();
  return S_OK;
}

}  // namespace talvex
