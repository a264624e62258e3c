// The test capture graph builder. Every call goes to the platform's builder
// (CLSID_CaptureGraphBuilder2) except the three that Wine 8 answers with E_NOTIMPL, which
// are done here as Microsoft's DirectShow reference describes them:
//
// SetOutputFileName
//   "ICaptureGraphBuilder2::SetOutputFileName method" (learn.microsoft.com, strmif.h):
//   for MEDIASUBTYPE_Avi the builder creates the AVI Mux and a file writer, adds both to
//   the graph, connects them, points the writer at the named file (IFileSinkFilter) and
//   returns the multiplexer and the writer's IFileSinkFilter (the latter may be NULL).
//   Other subtypes go to the platform's builder.
//   The writer is the capture engine's own (Wine's File Writer gives the multiplexer no
//   IStream). It leaves an existing file alone and writes over it (IFileSinkFilter2::SetMode
//   with 0): "ICaptureGraphBuilder2::AllocCapFile method" asks for that mode on the writer
//   of a preallocated file, since AM_FILE_OVERWRITE would delete the preallocation. Assumed:
//   the writer Windows' builder makes behaves that way for a file AllocCapFile made; it is
//   the case in which a missing or wrong AllocCapFile shows as stale bytes.
//   Assumed, for Wine: the multiplexer is set to INTERLEAVE_FULL before its output connects
//   (Wine's AVI Mux runs in no other mode; "IConfigInterleaving::put_Mode").
//
// ControlStream
//   "ICaptureGraphBuilder2::ControlStream method": pCategory may not be NULL (E_POINTER);
//   the builder finds the output pin of that category and major type on pFilter and calls
//   IAMStreamControl on it, so E_FAIL when no pin matches or the pin has no stream control.
//   pstart NULL starts at once, MAXLONGLONG cancels the start request; pstop NULL stops at
//   once, MAXLONGLONG cancels the stop request; the cookies go with the notifications
//   ("IAMStreamControl::StartAt", "IAMStreamControl::StopAt"). The stop is asked with
//   bSendExtra TRUE, as "IAMStreamControl::StopAt" advises for a capture pin.
//   A device with a capture pin only is previewed through the Smart Tee that RenderStream
//   puts behind it ("Using the Smart Tee Filter"); its capture stream is then the Smart
//   Tee's capture pin, whose output pins offer IAMStreamControl ("Smart Tee Filter": output
//   pin interfaces IAMStreamControl, IPin, IQualityControl; capture pin is output pin 0).
//   Controlling the device's own pin would stop the preview too, so that pin is the one
//   controlled. Wine's Smart Tee has no stream control on its pins: in its place the test
//   builder puts a gate with IAMStreamControl right after the Smart Tee's capture pin (in
//   RenderStream, when the capture stream is rendered) and controls the gate.
//   A NULL pFilter (every capture filter of the graph) is not covered: E_NOTIMPL.
//   Assumed, for Wine: Wine's AVI Mux carries its stream times and index entries from one
//   run into the next (its init_stream resets neither, and it refuses samples older than
//   the last one it saw), so its second file on one graph is broken. Windows' mux is
//   assumed to write every run as a file of its own, as repeated captures on one graph
//   need. When ControlStream lets the capture stream flow on a stopped graph, the test
//   builder stands in for that by putting a fresh multiplexer and writer on the same
//   connection and file.
//
// AllocCapFile
//   "ICaptureGraphBuilder2::AllocCapFile method": creates or resizes the named file to the
//   given size; fails when the file is read-only. The size is what the file then has:
//   bytes past it are gone, new bytes read as zero.
#include "tests/win/test_graph_builder_dshow.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "capture/file_writer_dshow.h"
#include "common/com_object_win.h"
#include "common/com_ptr_win.h"
#include "dshow/dshow_base_dshow.h"
#include "dshow/stream_control_dshow.h"

namespace talvex::testing {
namespace {

constexpr REFERENCE_TIME kMaxTime = 0x7FFFFFFFFFFFFFFFLL;

// {0D4F3A5B-6C71-4E8A-9B2D-5E7F1C3A9B64}: the gate, created directly, never registered.
constexpr GUID kClsidStreamGate = {
    0x0d4f3a5b, 0x6c71, 0x4e8a, {0x9b, 0x2d, 0x5e, 0x7f, 0x1c, 0x3a, 0x9b, 0x64}};

CLSID class_of(IBaseFilter* filter) {
  CLSID id = GUID_NULL;
  if (filter) filter->GetClassID(&id);
  return id;
}

ComPtr<IBaseFilter> owner_of(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
  ComPtr<IBaseFilter> filter;
  filter.attach(info.pFilter);
  return filter;
}

ComPtr<IPin> peer_of(IPin* pin) {
  ComPtr<IPin> peer;
  if (!pin || FAILED(pin->ConnectedTo(&peer))) return {};
  return peer;
}

bool has_category(IPin* pin, const GUID& category) {
  ComPtr<IKsPropertySet> properties;
  if (FAILED(pin->QueryInterface(IID_IKsPropertySet, properties.out_void()))) return false;
  GUID found = GUID_NULL;
  DWORD returned = 0;
  return SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &found,
                                   sizeof(found), &returned)) &&
         IsEqualGUID(found, category);
}

bool has_major_type(IPin* pin, const GUID* major) {
  if (!major) return true;
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(&types)) || !types) return false;
  AM_MEDIA_TYPE* type = nullptr;
  bool found = false;
  while (!found && types->Next(1, &type, nullptr) == S_OK) {
    found = IsEqualGUID(type->majortype, *major);
    dshow::delete_media_type(type);
  }
  return found;
}

// The pins of a filter in one direction, optionally only the unconnected ones.
std::vector<ComPtr<IPin>> pins_of(IBaseFilter* filter, PIN_DIRECTION wanted, bool unconnected) {
  std::vector<ComPtr<IPin>> result;
  ComPtr<IEnumPins> pins;
  if (!filter || FAILED(filter->EnumPins(&pins))) return result;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (FAILED(pin->QueryDirection(&direction)) || direction != wanted) continue;
    if (unconnected && peer_of(pin.get())) continue;
    result.push_back(pin);
  }
  return result;
}

ComPtr<IPin> output_of_category(IBaseFilter* filter, const GUID& category, const GUID* major) {
  for (const auto& pin : pins_of(filter, PINDIR_OUTPUT, false)) {
    if (has_category(pin.get(), category) && has_major_type(pin.get(), major)) return pin;
  }
  return {};
}

// --- the gate behind Wine's Smart Tee ------------------------------------------------------

class StreamGate;

class GateInput : public dshow::InputPin {
 public:
  explicit GateInput(StreamGate& gate);
  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override {
    return IsEqualGUID(mt.majortype, MEDIATYPE_Video) ? S_OK : S_FALSE;
  }
  HRESULT receive(IMediaSample* sample) override;

 private:
  StreamGate& gate_;
};

// Offers exactly what the input was connected with, and passes samples on unchanged.
class GateOutput : public dshow::OutputPin {
 public:
  GateOutput(StreamGate& gate, GateInput& input);
  HRESULT check_media_type(const AM_MEDIA_TYPE& mt) override {
    const AM_MEDIA_TYPE& in = input_.media_type().get();
    return input_.connected() && IsEqualGUID(mt.majortype, in.majortype) &&
                   IsEqualGUID(mt.subtype, in.subtype) && IsEqualGUID(mt.formattype, in.formattype)
               ? S_OK
               : S_FALSE;
  }
  HRESULT get_media_type(int i, dshow::MediaType& mt) override {
    if (i != 0 || !input_.connected()) return VFW_S_NO_MORE_ITEMS;
    mt = input_.media_type();
    return S_OK;
  }
  void buffer_needs(ALLOCATOR_PROPERTIES& props) override {
    props.cBuffers = std::max<long>(props.cBuffers, 1);
    props.cbBuffer = std::max<long>(props.cbBuffer, 1);
  }
  HRESULT query_extra(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IAMStreamControl)) return control.query(out);
    *out = nullptr;
    return E_NOINTERFACE;
  }

  dshow::StreamControl control;

 private:
  GateInput& input_;
};

class StreamGate : public dshow::FilterBase {
 public:
  StreamGate() : FilterBase(kClsidStreamGate), input(*this), output(*this, input) {}
  int pin_count() override { return 2; }
  IPin* pin(int i) override {
    return i == 0 ? static_cast<IPin*>(static_cast<dshow::InputPin*>(&input))
                  : static_cast<IPin*>(&output);
  }

  GateInput input;
  GateOutput output;
};

GateInput::GateInput(StreamGate& gate) : InputPin(gate, L"Input"), gate_(gate) {}

HRESULT GateInput::receive(IMediaSample* sample) {
  REFERENCE_TIME start = 0, end = 0;
  const HRESULT timed = sample->GetTime(&start, &end);
  if (FAILED(timed)) start = end = 0;
  if (timed == VFW_S_NO_STOP_TIME) end = start;
  const bool deliver = gate_.output.control.should_deliver(start, end);
  gate_.output.control.send_notifications(gate_);
  return deliver ? gate_.output.deliver(sample) : S_OK;
}

GateOutput::GateOutput(StreamGate& gate, GateInput& input)
    : OutputPin(gate, L"Capture"), control(*this, true), input_(input) {}

// --- the builder ------------------------------------------------------------------------

class TestGraphBuilder final : public ComObject<ICaptureGraphBuilder2> {
 public:
  explicit TestGraphBuilder(ComPtr<ICaptureGraphBuilder2> platform)
      : ComObject(IID_ICaptureGraphBuilder2), platform_(std::move(platform)) {}

  STDMETHODIMP SetFiltergraph(IGraphBuilder* graph) override {
    const HRESULT hr = platform_->SetFiltergraph(graph);
    if (SUCCEEDED(hr)) graph_ = ComPtr<IGraphBuilder>(graph);
    return hr;
  }
  STDMETHODIMP GetFiltergraph(IGraphBuilder** graph) override {
    return platform_->GetFiltergraph(graph);
  }
  STDMETHODIMP FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                             REFIID iid, void** out) override {
    return platform_->FindInterface(category, type, filter, iid, out);
  }
  STDMETHODIMP CopyCaptureFile(LPOLESTR from, LPOLESTR to, int allow_abort,
                               IAMCopyCaptureFileProgress* progress) override {
    return platform_->CopyCaptureFile(from, to, allow_abort, progress);
  }
  STDMETHODIMP FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category,
                       const GUID* type, BOOL unconnected, int index, IPin** pin) override {
    return platform_->FindPin(source, direction, category, type, unconnected, index, pin);
  }

  STDMETHODIMP RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                            IBaseFilter* intermediate, IBaseFilter* sink) override {
    if (category && IsEqualGUID(*category, PIN_CATEGORY_CAPTURE)) {
      // From the gate on, the stream is an ordinary output pin to render.
      if (ComPtr<IPin> gate = gate_behind_smart_tee(source, type)) {
        return platform_->RenderStream(nullptr, type, gate.get(), intermediate, sink);
      }
    }
    return platform_->RenderStream(category, type, source, intermediate, sink);
  }

  STDMETHODIMP SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** multiplexer,
                                 IFileSinkFilter** sink) override {
    if (!type || !file || !multiplexer) return E_POINTER;
    if (!IsEqualGUID(*type, MEDIASUBTYPE_Avi)) {
      return platform_->SetOutputFileName(type, file, multiplexer, sink);
    }
    if (!graph_) return E_UNEXPECTED;
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> file_sink;
    const HRESULT hr = make_avi_sink(file, mux, file_sink);
    if (FAILED(hr)) return hr;
    ++test_builder_calls().output_files;
    *multiplexer = mux.detach();
    if (sink) *sink = file_sink.detach();
    return S_OK;
  }

  STDMETHODIMP ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                             REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD start_cookie,
                             WORD stop_cookie) override {
    if (!category) return E_POINTER;
    if (!filter) return E_NOTIMPL;
    ComPtr<IPin> pin = controlled_pin(filter, *category, type);
    ComPtr<IAMStreamControl> control;
    if (!pin || FAILED(pin->QueryInterface(IID_IAMStreamControl, control.out_void()))) {
      return E_FAIL;
    }
    const bool flows = !start || *start != kMaxTime;
    if (IsEqualGUID(*category, PIN_CATEGORY_CAPTURE)) {
      if (flows) {
        ++test_builder_calls().flows;
        if (graph_stopped()) renew_multiplexer(pin.get());
      } else {
        ++test_builder_calls().holds;
      }
    }
    HRESULT hr = control->StartAt(start, start_cookie);
    if (SUCCEEDED(hr)) hr = control->StopAt(stop, TRUE, stop_cookie);
    return hr;
  }

  STDMETHODIMP AllocCapFile(LPCOLESTR file, DWORDLONG size) override {
    if (!file) return E_POINTER;
    HANDLE handle =
        ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool sized =
        ::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!sized) return HRESULT_FROM_WIN32(error);
    ++test_builder_calls().cap_files;
    test_builder_calls().cap_file_size = static_cast<long long>(size);
    return S_OK;
  }

 private:
  HRESULT make_avi_sink(LPCOLESTR file, ComPtr<IBaseFilter>& mux, ComPtr<IFileSinkFilter>& sink) {
    HRESULT hr = ::CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    mux.out_void());
    if (FAILED(hr)) return hr;
    if (auto interleaving = mux.query<IConfigInterleaving>(IID_IConfigInterleaving)) {
      interleaving->put_Mode(INTERLEAVE_FULL);
    }
    ComPtr<IBaseFilter> writer;
    if (FAILED(hr = create_file_writer(&writer))) return hr;
    auto sink2 = writer.query<IFileSinkFilter2>(IID_IFileSinkFilter2);
    if (!sink2) return E_NOINTERFACE;
    if (FAILED(hr = sink2->SetFileName(file, nullptr)) || FAILED(hr = sink2->SetMode(0))) return hr;
    if (FAILED(hr = graph_->AddFilter(mux.get(), L"AVI Mux"))) return hr;
    if (FAILED(hr = graph_->AddFilter(writer.get(), L"File Writer"))) {
      graph_->RemoveFilter(mux.get());
      return hr;
    }
    const auto outs = pins_of(mux.get(), PINDIR_OUTPUT, true);
    const auto ins = pins_of(writer.get(), PINDIR_INPUT, true);
    hr = (outs.empty() || ins.empty())
             ? E_FAIL
             : graph_->ConnectDirect(outs[0].get(), ins[0].get(), nullptr);
    if (FAILED(hr)) {
      graph_->RemoveFilter(writer.get());
      graph_->RemoveFilter(mux.get());
      return hr;
    }
    sink = writer.query<IFileSinkFilter>(IID_IFileSinkFilter);
    return S_OK;
  }

  bool graph_stopped() {
    auto control = graph_.query<IMediaControl>(IID_IMediaControl);
    OAFilterState state = State_Running;
    return control && SUCCEEDED(control->GetState(0, &state)) && state == State_Stopped;
  }

  // The Smart Tee that preview rendering put behind a device with a capture pin only.
  ComPtr<IBaseFilter> smart_tee_of(IBaseFilter* device, const GUID* type, ComPtr<IPin>& pin) {
    pin = output_of_category(device, PIN_CATEGORY_CAPTURE, type);
    if (!pin || output_of_category(device, PIN_CATEGORY_PREVIEW, type)) return {};
    ComPtr<IBaseFilter> tee = owner_of(peer_of(pin.get()).get());
    return IsEqualGUID(class_of(tee.get()), CLSID_SmartTee) ? tee : ComPtr<IBaseFilter>();
  }

  // The free output of the gate on the Smart Tee's capture pin, made on first demand;
  // nothing when the device needs no gate.
  ComPtr<IPin> gate_behind_smart_tee(IUnknown* source, const GUID* type) {
    ComPtr<IBaseFilter> device;
    if (!source || FAILED(source->QueryInterface(IID_IBaseFilter, device.out_void()))) return {};
    ComPtr<IPin> device_pin;
    ComPtr<IBaseFilter> tee = smart_tee_of(device.get(), type, device_pin);
    ComPtr<IPin> tee_capture;
    if (!tee || FAILED(tee->FindPin(L"Capture", &tee_capture))) return {};
    if (tee_capture.query<IAMStreamControl>(IID_IAMStreamControl)) return {};
    if (ComPtr<IPin> peer = peer_of(tee_capture.get())) {
      ComPtr<IBaseFilter> gate = owner_of(peer.get());
      if (!IsEqualGUID(class_of(gate.get()), kClsidStreamGate)) return {};
      const auto free = pins_of(gate.get(), PINDIR_OUTPUT, true);
      return free.empty() ? ComPtr<IPin>() : free[0];
    }
    ComPtr<StreamGate> gate = ComPtr<StreamGate>::adopt(new StreamGate());
    if (FAILED(graph_->AddFilter(gate.get(), L"Stream Control"))) return {};
    if (FAILED(graph_->ConnectDirect(tee_capture.get(), &gate->input, nullptr))) {
      graph_->RemoveFilter(gate.get());
      return {};
    }
    ++test_builder_calls().gates;
    return ComPtr<IPin>(static_cast<IPin*>(&gate->output));
  }

  ComPtr<IPin> controlled_pin(IBaseFilter* filter, const GUID& category, const GUID* type) {
    ComPtr<IPin> device_pin;
    ComPtr<IBaseFilter> tee = smart_tee_of(filter, type, device_pin);
    if (!tee) return output_of_category(filter, category, type);
    ComPtr<IPin> tee_pin;
    const bool capture = IsEqualGUID(category, PIN_CATEGORY_CAPTURE);
    if (FAILED(tee->FindPin(capture ? L"Capture" : L"Preview", &tee_pin))) return {};
    if (tee_pin.query<IAMStreamControl>(IID_IAMStreamControl)) return tee_pin;
    ComPtr<IPin> peer = peer_of(tee_pin.get());
    ComPtr<IBaseFilter> gate = owner_of(peer.get());
    if (!capture || !IsEqualGUID(class_of(gate.get()), kClsidStreamGate)) return {};
    const auto outs = pins_of(gate.get(), PINDIR_OUTPUT, false);
    return outs.empty() ? ComPtr<IPin>() : outs[0];
  }

  // Puts a fresh multiplexer and writer where the capture stream from `from` meets the
  // AVI Mux, on the same media type and file.
  void renew_multiplexer(IPin* from) {
    ComPtr<IPin> out(from);
    for (int hop = 0; hop < 4 && out; ++hop) {
      ComPtr<IPin> in = peer_of(out.get());
      ComPtr<IBaseFilter> next = owner_of(in.get());
      if (!next) return;
      if (IsEqualGUID(class_of(next.get()), CLSID_AviDest)) {
        replace_multiplexer(out.get(), next.get());
        return;
      }
      const auto outs = pins_of(next.get(), PINDIR_OUTPUT, false);
      out = outs.empty() ? ComPtr<IPin>() : outs[0];
    }
  }

  void replace_multiplexer(IPin* upstream, IBaseFilter* mux) {
    const auto mux_outs = pins_of(mux, PINDIR_OUTPUT, false);
    ComPtr<IBaseFilter> writer =
        mux_outs.empty() ? ComPtr<IBaseFilter>() : owner_of(peer_of(mux_outs[0].get()).get());
    auto old_sink = writer.query<IFileSinkFilter>(IID_IFileSinkFilter);
    LPOLESTR name = nullptr;
    if (!old_sink || FAILED(old_sink->GetCurFile(&name, nullptr)) || !name) return;
    const std::wstring file(name);
    ::CoTaskMemFree(name);
    dshow::MediaType type;
    if (FAILED(upstream->ConnectionMediaType(&type.get()))) return;
    graph_->RemoveFilter(writer.get());
    graph_->RemoveFilter(mux);
    ComPtr<IBaseFilter> fresh;
    ComPtr<IFileSinkFilter> fresh_sink;
    if (FAILED(make_avi_sink(file.c_str(), fresh, fresh_sink))) return;
    const auto ins = pins_of(fresh.get(), PINDIR_INPUT, true);
    if (!ins.empty()) graph_->ConnectDirect(upstream, ins[0].get(), &type.get());
  }

  ComPtr<ICaptureGraphBuilder2> platform_;
  ComPtr<IGraphBuilder> graph_;
};

}  // namespace

TestBuilderCalls& test_builder_calls() {
  static TestBuilderCalls calls;
  return calls;
}

HRESULT create_test_graph_builder(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<ICaptureGraphBuilder2> platform;
  const HRESULT hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_ICaptureGraphBuilder2, platform.out_void());
  if (FAILED(hr)) return hr;
  ComPtr<TestGraphBuilder> builder =
      ComPtr<TestGraphBuilder>::adopt(new TestGraphBuilder(platform));
  return builder->QueryInterface(iid, out);
}

}  // namespace talvex::testing
