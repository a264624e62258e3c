// The small part of a DirectShow filter framework that our filters need (MinGW ships no
// base classes): a filter with the state machine, output pins that connect and negotiate
// an allocator, input pins that accept samples, and the two enumerators.
//
// Pins are members of their filter and count references on it. A filter's state and its
// connections change only on the application's thread; streaming threads read them while
// the filter is paused or running, when connections cannot change.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/com_ptr_win.h"

namespace talvex::dshow {

// COM objects of this code alive in the process, for DllCanUnloadNow.
std::atomic<long>& live_objects();

// AM_MEDIA_TYPE helpers: the format block and the pUnk are owned by the struct.
void free_media_type(AM_MEDIA_TYPE& mt);
HRESULT copy_media_type(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src);
void delete_media_type(AM_MEDIA_TYPE* mt);
// Whether `candidate` fits a partial type (GUID_NULL fields match anything).
bool media_type_matches(const AM_MEDIA_TYPE& partial, const AM_MEDIA_TYPE& candidate);

// An AM_MEDIA_TYPE that frees its format block.
class MediaType {
 public:
  MediaType() { zero(); }
  MediaType(const MediaType& other) {
    zero();
    copy_media_type(mt_, other.mt_);
  }
  MediaType& operator=(const MediaType& other) {
    if (this != &other) {
      free_media_type(mt_);
      copy_media_type(mt_, other.mt_);
    }
    return *this;
  }
  ~MediaType() { free_media_type(mt_); }
  AM_MEDIA_TYPE* operator->() { return &mt_; }
  const AM_MEDIA_TYPE* operator->() const { return &mt_; }
  AM_MEDIA_TYPE& get() { return mt_; }
  const AM_MEDIA_TYPE& get() const { return mt_; }
  void reset() { free_media_type(mt_); }
  // The VIDEOINFOHEADER of a FORMAT_VideoInfo type, or null.
  const VIDEOINFOHEADER* video_info() const;

 private:
  void zero() { ZeroMemory(&mt_, sizeof(mt_)); }
  AM_MEDIA_TYPE mt_;
};

class FilterBase;

// What both pin kinds share: the owner, the name, the connection and its media type.
class PinCore {
 public:
  PinCore(FilterBase& filter, const wchar_t* name, PIN_DIRECTION direction)
      : filter_(filter), name_(name), direction_(direction) {}

  FilterBase& filter() const { return filter_; }
  const std::wstring& name() const { return name_; }
  bool connected() const { return static_cast<bool>(connected_); }
  const MediaType& media_type() const { return mt_; }

 protected:
  HRESULT connected_to(IPin** pin);
  HRESULT connection_media_type(AM_MEDIA_TYPE* mt);
  HRESULT query_pin_info(PIN_INFO* info);
  HRESULT query_id(LPWSTR* id);

  FilterBase& filter_;
  std::wstring name_;
  PIN_DIRECTION direction_;
  ComPtr<IPin> connected_;
  MediaType mt_;
};

class OutputPin : public IPin, public PinCore {
 public:
  OutputPin(FilterBase& filter, const wchar_t* name) : PinCore(filter, name, PINDIR_OUTPUT) {}
  virtual ~OutputPin() = default;

  // IUnknown: references count on the filter.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin
  STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override { return connected_to(pin); }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override { return connection_media_type(mt); }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override { return query_pin_info(info); }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override { return query_id(id); }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // What the concrete pin decides.
  virtual HRESULT check_media_type(const AM_MEDIA_TYPE& mt) = 0;
  // The i-th preferred type: S_OK, or VFW_S_NO_MORE_ITEMS past the end.
  virtual HRESULT get_media_type(int i, MediaType& mt) = 0;
  // Buffer count and size for the connected type, given the receiver's request.
  virtual void buffer_needs(ALLOCATOR_PROPERTIES& props) = 0;
  virtual HRESULT query_extra(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
  }

  // Called by the filter on Stop -> Pause and on Pause/Run -> Stop.
  virtual HRESULT activate();
  virtual void deactivate();

  // For the streaming thread.
  HRESULT get_buffer(IMediaSample** sample);
  HRESULT deliver(IMediaSample* sample);
  void deliver_end_of_stream();

 private:
  HRESULT try_connect(IPin* receiver, const AM_MEDIA_TYPE& mt);
  HRESULT decide_allocator(IMemInputPin* input);
  void release_connection();

  ComPtr<IMemInputPin> input_;
  ComPtr<IMemAllocator> allocator_;
};

class InputPin : public IPin, public IMemInputPin, public PinCore {
 public:
  InputPin(FilterBase& filter, const wchar_t* name) : PinCore(filter, name, PINDIR_INPUT) {}
  virtual ~InputPin() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override { return connected_to(pin); }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override { return connection_media_type(mt); }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override { return query_pin_info(info); }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override { return query_id(id); }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return end_of_stream(); }
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin
  STDMETHODIMP GetAllocator(IMemAllocator** out) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
  STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

  virtual HRESULT check_media_type(const AM_MEDIA_TYPE& mt) = 0;
  virtual HRESULT get_media_type(int, MediaType&) { return VFW_S_NO_MORE_ITEMS; }
  virtual HRESULT receive(IMediaSample* sample) = 0;
  virtual HRESULT end_of_stream() { return S_OK; }
  virtual HRESULT begin_flush() { return S_OK; }
  virtual HRESULT end_flush() { return S_OK; }
  virtual void on_connected() {}
  virtual void on_disconnected() {}
  virtual HRESULT query_extra(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  ComPtr<IMemAllocator> allocator_;
  std::atomic<bool> flushing_{false};
};

class FilterBase : public IBaseFilter {
 public:
  explicit FilterBase(const CLSID& clsid);
  virtual ~FilterBase();
  FilterBase(const FilterBase&) = delete;
  FilterBase& operator=(const FilterBase&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout_ms, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** out) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** out) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  virtual int pin_count() = 0;
  virtual IPin* pin(int i) = 0;

  FILTER_STATE state() const { return state_.load(); }
  // Stream time now, in 100 ns units: the graph clock minus the run's start time, or the
  // time since Run when the graph has no clock. Meaningful while running.
  REFERENCE_TIME stream_time();
  // Reports an event to the graph (EC_ERRORABORT and the like).
  void notify_event(long code, LONG_PTR p1, LONG_PTR p2);

 protected:
  virtual HRESULT query_extra(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // A live source answers VFW_S_CANT_CUE while paused.
  virtual bool is_live_source() const { return false; }
  // Hooks: after the output pins were activated (Stop -> Pause), after they were
  // deactivated (-> Stop), and after every change of state.
  virtual HRESULT on_activate() { return S_OK; }
  virtual void on_deactivate() {}
  virtual void on_state_change() {}

 private:
  LONG references_ = 1;
  CLSID clsid_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  std::mutex clock_lock;  // guards clock_, start_time_, run_counter_start_
  ComPtr<IReferenceClock> clock_;
  REFERENCE_TIME start_time_ = 0;
  LONGLONG run_counter_start_ = 0;
  IFilterGraph* graph_ = nullptr;  // not counted: the graph holds the filter
  std::wstring name_;
};

// Creates an IEnumMediaTypes over the given types.
HRESULT create_media_type_enum(std::vector<MediaType> types, IEnumMediaTypes** out);

}  // namespace talvex::dshow
