// Stream control for an output pin, as the pins of WDM capture devices offer it: the
// IAMStreamControl interface (StartAt, StopAt, GetInfo) and the decision, sample by
// sample, whether the pin delivers. A pin keeps one StreamControl as a member, answers
// IID_IAMStreamControl with it, asks should_deliver() before each delivery and then
// sends the notifications the decision produced.
//
// What it does, after Microsoft's IAMStreamControl reference:
//  - streams flow by default;
//  - StartAt(NULL) starts at once, StartAt(MAXLONGLONG) cancels an earlier start request,
//    StartAt(t) holds the stream off until the sample at stream time t;
//  - StopAt(NULL) stops at once, StopAt(MAXLONGLONG) cancels an earlier stop request,
//    StopAt(t) delivers up to the sample whose time span holds t, and one sample more when
//    bSendExtra is set;
//  - a start or stop scheduled for a time (not NULL, not MAXLONGLONG) with a non-zero
//    cookie sends EC_STREAM_CONTROL_STARTED / EC_STREAM_CONTROL_STOPPED with the pin and
//    the cookie when it takes effect; NULL and MAXLONGLONG send nothing;
//  - a pin without time stamps (a preview pin) takes only NULL and MAXLONGLONG.
// Times are stream times: relative to the start of the graph's run.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <mutex>
#include <optional>

namespace talvex::dshow {

class FilterBase;

class StreamControl : public IAMStreamControl {
 public:
  // `owner` is the pin: it counts the references and answers QueryInterface.
  StreamControl(IPin& owner, bool time_stamped) : owner_(owner), time_stamped_(time_stamped) {}
  StreamControl(const StreamControl&) = delete;
  StreamControl& operator=(const StreamControl&) = delete;
  virtual ~StreamControl() = default;

  // IUnknown, delegated to the pin.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return owner_.QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }

  // IAMStreamControl
  STDMETHODIMP StartAt(const REFERENCE_TIME* start, DWORD cookie) override;
  STDMETHODIMP StopAt(const REFERENCE_TIME* stop, BOOL send_extra, DWORD cookie) override;
  STDMETHODIMP GetInfo(AM_STREAM_INFO* info) override;

  // For the pin's query_extra: this interface, with a reference.
  HRESULT query(void** out) {
    *out = static_cast<IAMStreamControl*>(this);
    AddRef();
    return S_OK;
  }

  // Whether the sample that starts at this stream time is delivered. A start or stop
  // that takes effect here is remembered for send_notifications(). For a pin without
  // time stamps the time is not looked at.
  bool should_deliver(REFERENCE_TIME sample_start, REFERENCE_TIME sample_end);
  bool should_deliver(REFERENCE_TIME sample_start) {
    return should_deliver(sample_start, sample_start);
  }
  // Sends the events of the starts and stops that took effect since the last call.
  void send_notifications(FilterBase& filter);

 private:
  struct Request {
    REFERENCE_TIME time = 0;
    DWORD cookie = 0;
  };

  IPin& owner_;
  const bool time_stamped_;
  std::mutex state_lock_;  // guards everything below
  std::optional<Request> start_;
  std::optional<Request> stop_;
  bool send_extra_ = false;
  bool discarding_ = false;
  DWORD started_cookie_ = 0;  // events to send, 0 for none
  DWORD stopped_cookie_ = 0;
};

}  // namespace talvex::dshow
