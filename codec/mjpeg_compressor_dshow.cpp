#include "codec/mjpeg_compressor_dshow.h"

#include <dshow.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "codec/codec_ids.h"
#include "codec/mjpeg_encoder.h"
#include "dshow/dshow_base_dshow.h"
#include "dshow/frame_format.h"

namespace talvex::codec {

namespace {

using dshow::MediaType;
using dshow::PixelFormat;

constexpr DWORD kMjpgFourcc = MAKEFOURCC('M', 'J', 'P', 'G');

std::optional<PixelFormat> input_format(const AM_MEDIA_TYPE& mt) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) ||
      !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || !mt.pbFormat ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return std::nullopt;
  }
  const auto& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
  if (bmi.biCompression != BI_RGB || bmi.biWidth <= 0 || bmi.biHeight == 0 || bmi.biWidth > 16384 ||
      bmi.biHeight > 16384 || bmi.biHeight < -16384) {
    return std::nullopt;
  }
  if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24) && bmi.biBitCount == 24) {
    return PixelFormat::kRgb24;
  }
  if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB32) && bmi.biBitCount == 32) {
    return PixelFormat::kRgb32;
  }
  if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB555) && bmi.biBitCount == 16) {
    return PixelFormat::kRgb555;
  }
  return std::nullopt;
}

class MjpegFilter;

class MjpegInput : public dshow::InputPin {
 public:
  MjpegInput(MjpegFilter& filter);
  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override {
    return input_format(mt) ? S_OK : S_FALSE;
  }
  HRESULT receive(IMediaSample* sample) override;
  HRESULT end_of_stream() override;
  HRESULT begin_flush() override;
  HRESULT end_flush() override;

 private:
  MjpegFilter& owner_;
  std::vector<std::uint8_t> jpeg_;  // used by the streaming thread only
};

class MjpegOutput : public dshow::OutputPin {
 public:
  MjpegOutput(MjpegFilter& filter);
  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override;
  HRESULT get_media_type(int i, MediaType& mt) override;
  void buffer_needs(ALLOCATOR_PROPERTIES& props) override;
  IPin* downstream() const { return connected_.get(); }

 private:
  MjpegFilter& owner_;
};

class MjpegFilter : public dshow::FilterBase {
 public:
  MjpegFilter() : FilterBase(kClsidMjpegCompressor), input_(*this), output_(*this) {}
  int pin_count() override { return 2; }
  IPin* pin(int i) override {
    return i == 0 ? static_cast<IPin*>(static_cast<dshow::InputPin*>(&input_))
                  : static_cast<IPin*>(&output_);
  }
  MjpegInput& input() { return input_; }
  MjpegOutput& output() { return output_; }

 private:
  MjpegInput input_;
  MjpegOutput output_;
};

MjpegInput::MjpegInput(MjpegFilter& filter) : InputPin(filter, L"Input"), owner_(filter) {}

HRESULT MjpegInput::receive(IMediaSample* sample) {
  MjpegOutput& output = owner_.output();
  if (!output.connected()) return S_OK;
  const auto format = input_format(media_type().get());
  const VIDEOINFOHEADER* vih = media_type().video_info();
  if (!format || !vih) return E_UNEXPECTED;
  const int width = vih->bmiHeader.biWidth;
  const int height = std::abs(static_cast<int>(vih->bmiHeader.biHeight));
  BYTE* pixels = nullptr;
  if (FAILED(sample->GetPointer(&pixels)) ||
      static_cast<std::size_t>(sample->GetActualDataLength()) <
          frame_size(width, height, *format)) {
    return S_OK;  // a short sample is dropped, never read past its end
  }
  if (!encode_frame(pixels, width, height, *format, vih->bmiHeader.biHeight > 0, kMjpegQuality,
                    jpeg_) ||
      jpeg_.size() > max_jpeg_size(width, height)) {
    return S_OK;
  }
  ComPtr<IMediaSample> out;
  HRESULT hr = output.get_buffer(&out);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  if (FAILED(out->GetPointer(&data)) || static_cast<std::size_t>(out->GetSize()) < jpeg_.size()) {
    return S_OK;
  }
  std::memcpy(data, jpeg_.data(), jpeg_.size());
  out->SetActualDataLength(static_cast<long>(jpeg_.size()));
  REFERENCE_TIME start = 0, end = 0;
  const HRESULT timed = sample->GetTime(&start, &end);
  if (timed == S_OK) {
    out->SetTime(&start, &end);
  } else if (timed == VFW_S_NO_STOP_TIME) {
    out->SetTime(&start, nullptr);
  } else {
    out->SetTime(nullptr, nullptr);
  }
  out->SetSyncPoint(TRUE);
  out->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
  out->SetPreroll(sample->IsPreroll() == S_OK);
  return output.deliver(out.get());
}

HRESULT MjpegInput::end_of_stream() {
  owner_.output().deliver_end_of_stream();
  return S_OK;
}

HRESULT MjpegInput::begin_flush() {
  if (IPin* next = owner_.output().downstream()) next->BeginFlush();
  return S_OK;
}

HRESULT MjpegInput::end_flush() {
  if (IPin* next = owner_.output().downstream()) next->EndFlush();
  return S_OK;
}

MjpegOutput::MjpegOutput(MjpegFilter& filter) : OutputPin(filter, L"Output"), owner_(filter) {}

HRESULT MjpegOutput::get_media_type(int i, MediaType& mt) {
  if (i != 0) return VFW_S_NO_MORE_ITEMS;
  MjpegInput& input = owner_.input();
  const VIDEOINFOHEADER* in = input.media_type().video_info();
  if (!input.connected() || !in) return VFW_S_NO_MORE_ITEMS;
  const int width = in->bmiHeader.biWidth;
  const int height = std::abs(static_cast<int>(in->bmiHeader.biHeight));

  mt.reset();
  AM_MEDIA_TYPE& m = mt.get();
  m.majortype = MEDIATYPE_Video;
  m.subtype = MEDIASUBTYPE_MJPG;
  m.bFixedSizeSamples = FALSE;
  m.bTemporalCompression = FALSE;
  m.lSampleSize = 0;
  m.formattype = FORMAT_VideoInfo;
  m.cbFormat = sizeof(VIDEOINFOHEADER);
  m.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(m.cbFormat));
  if (!m.pbFormat) {
    m.cbFormat = 0;
    return E_OUTOFMEMORY;
  }
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(m.pbFormat);
  ZeroMemory(vih, sizeof(*vih));
  vih->AvgTimePerFrame = in->AvgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 24;
  vih->bmiHeader.biCompression = kMjpgFourcc;
  // The largest picture: a multiplexer sizes its buffers from this.
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(max_jpeg_size(width, height));
  return S_OK;
}

HRESULT MjpegOutput::check_media_type(const AM_MEDIA_TYPE& mt) {
  MediaType ours;
  if (get_media_type(0, ours) != S_OK) return S_FALSE;
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_MJPG) ||
      !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || !mt.pbFormat ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return S_FALSE;
  }
  const auto& want = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
  const VIDEOINFOHEADER* have = ours.video_info();
  return (want.biWidth == have->bmiHeader.biWidth &&
          std::abs(static_cast<int>(want.biHeight)) == have->bmiHeader.biHeight &&
          want.biCompression == kMjpgFourcc)
             ? S_OK
             : S_FALSE;
}

void MjpegOutput::buffer_needs(ALLOCATOR_PROPERTIES& props) {
  const VIDEOINFOHEADER* in = owner_.input().media_type().video_info();
  const long largest =
      in ? static_cast<long>(max_jpeg_size(in->bmiHeader.biWidth,
                                           std::abs(static_cast<int>(in->bmiHeader.biHeight))))
         : 65536;
  props.cBuffers = std::max<long>(props.cBuffers, 2);
  props.cbBuffer = std::max<long>(props.cbBuffer, largest);
}

}  // namespace

HRESULT create_mjpeg_compressor(IUnknown** out) {
  if (!out) return E_POINTER;
  *out = static_cast<IBaseFilter*>(new MjpegFilter());
  return S_OK;
}

}  // namespace talvex::codec
