#include "capture/recorder_filter_dshow.h"

#include <cstring>
#include <utility>

#include "common/system_calls.h"
#include "dshow/dshow_base_dshow.h"

namespace talvex {
namespace {

// {0E3A7F52-6C1B-4B8E-9D25-7A4C61B0D3E9}
constexpr GUID kClsidRecorder = {
    0x0e3a7f52, 0x6c1b, 0x4b8e, {0x9d, 0x25, 0x7a, 0x4c, 0x61, 0xb0, 0xd3, 0xe9}};

class Recorder;

class RecorderPin : public dshow::InputPin {
 public:
  RecorderPin(dshow::FilterBase& filter, std::shared_ptr<RecordingStream> stream)
      : InputPin(filter, L"Input"), stream_(std::move(stream)) {}

  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override {
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video)) return S_FALSE;
    return avi_stream(recording_format(mt)) ? S_OK : S_FALSE;
  }
  void on_connected() override { stream_->set_format(recording_format(media_type().get())); }

  HRESULT receive(IMediaSample* sample) override {
    const long size = sample->GetActualDataLength();
    if (size <= 0) return S_OK;
    REFERENCE_TIME start = 0, end = 0;
    // A sample without a time gets the stream time of its arrival.
    const REFERENCE_TIME time =
        SUCCEEDED(sample->GetTime(&start, &end)) ? start : filter().stream_time();
    stream_->count_sample(static_cast<std::size_t>(size), time);
    if (!stream_->takes_samples()) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    StreamSample s;
    s.bytes.assign(data, data + size);
    s.time = time;
    s.local = system_calls().local_time();
    const VIDEOINFOHEADER* info = media_type().video_info();
    const bool uncompressed = info && (info->bmiHeader.biCompression == BI_RGB ||
                                       info->bmiHeader.biCompression == BI_BITFIELDS);
    s.key = uncompressed || sample->IsSyncPoint() == S_OK;
    stream_->deliver(std::move(s));
    return S_OK;
  }

 private:
  std::shared_ptr<RecordingStream> stream_;
};

class Recorder : public dshow::FilterBase {
 public:
  explicit Recorder(std::shared_ptr<RecordingStream> stream)
      : FilterBase(kClsidRecorder), pin_(*this, std::move(stream)) {}

  int pin_count() override { return 1; }
  IPin* pin(int) override { return static_cast<IPin*>(static_cast<dshow::InputPin*>(&pin_)); }

 private:
  RecorderPin pin_;
};

}  // namespace

RecordingFormat recording_format(const AM_MEDIA_TYPE& type) {
  RecordingFormat format;
  std::memcpy(format.major_type.data(), &type.majortype, 16);
  std::memcpy(format.sub_type.data(), &type.subtype, 16);
  std::memcpy(format.format_type.data(), &type.formattype, 16);
  if (type.pbFormat && type.cbFormat > 0) {
    format.format.assign(type.pbFormat, type.pbFormat + type.cbFormat);
  }
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.pbFormat &&
      type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    format.frame_period = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  }
  return format;
}

HRESULT create_recorder_filter(std::shared_ptr<RecordingStream> stream, IBaseFilter** out) {
  if (!out || !stream) return E_POINTER;
  *out = new Recorder(std::move(stream));
  return S_OK;
}

}  // namespace talvex
