#include "dshow/stream_control_dshow.h"

#include <utility>

#include "dshow/dshow_base_dshow.h"

namespace talvex::dshow {
namespace {

constexpr REFERENCE_TIME kMaxTime = 0x7FFFFFFFFFFFFFFFLL;

bool is_special(const REFERENCE_TIME* time) { return !time || *time == kMaxTime; }

}  // namespace

STDMETHODIMP StreamControl::StartAt(const REFERENCE_TIME* start, DWORD cookie) {
  // Preview pins stamp no times, so only "now" and "cancel" mean anything to them.
  if (!time_stamped_ && !is_special(start)) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(state_lock_);
  if (!start) {
    start_.reset();
    discarding_ = false;
  } else if (*start == kMaxTime) {
    start_.reset();
  } else {
    start_ = Request{*start, cookie};
    discarding_ = true;
  }
  return S_OK;
}

STDMETHODIMP StreamControl::StopAt(const REFERENCE_TIME* stop, BOOL send_extra, DWORD cookie) {
  if (!time_stamped_ && !is_special(stop)) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(state_lock_);
  if (!stop) {
    stop_.reset();
    discarding_ = true;
  } else if (*stop == kMaxTime) {
    stop_.reset();
  } else {
    stop_ = Request{*stop, cookie};
    send_extra_ = send_extra != FALSE;
  }
  return S_OK;
}

STDMETHODIMP StreamControl::GetInfo(AM_STREAM_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::mutex> hold(state_lock_);
  ZeroMemory(info, sizeof(*info));
  if (start_) {
    info->tStart = start_->time;
    info->dwStartCookie = start_->cookie;
    info->dwFlags |= AM_STREAM_INFO_START_DEFINED;
  }
  if (stop_) {
    info->tStop = stop_->time;
    info->dwStopCookie = stop_->cookie;
    info->dwFlags |= AM_STREAM_INFO_STOP_DEFINED;
    if (send_extra_) info->dwFlags |= AM_STREAM_INFO_STOP_SEND_EXTRA;
  }
  if (discarding_) info->dwFlags |= AM_STREAM_INFO_DISCARDING;
  return S_OK;
}

bool StreamControl::should_deliver(REFERENCE_TIME sample_start, REFERENCE_TIME sample_end) {
  std::lock_guard<std::mutex> hold(state_lock_);
  if (!time_stamped_) return !discarding_;
  // A start takes effect with the sample whose span reaches its time; a start and a stop
  // at the same time thus let exactly that sample through.
  if (start_ && (sample_start >= start_->time || sample_end > start_->time)) {
    discarding_ = false;
    if (start_->cookie) started_cookie_ = start_->cookie;
    start_.reset();
  }
  // A stop takes effect with the first sample wholly after it, which still goes out when
  // an extra sample was asked for.
  if (stop_ && sample_start > stop_->time) {
    const bool was_flowing = !discarding_;
    discarding_ = true;
    if (stop_->cookie) stopped_cookie_ = stop_->cookie;
    stop_.reset();
    return was_flowing && send_extra_;
  }
  return !discarding_;
}

void StreamControl::send_notifications(FilterBase& filter) {
  DWORD started = 0, stopped = 0;
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    started = std::exchange(started_cookie_, 0);
    stopped = std::exchange(stopped_cookie_, 0);
  }
  const auto pin = reinterpret_cast<LONG_PTR>(&owner_);
  if (started) filter.notify_event(EC_STREAM_CONTROL_STARTED, pin, started);
  if (stopped) filter.notify_event(EC_STREAM_CONTROL_STOPPED, pin, stopped);
}

}  // namespace talvex::dshow
