#include "capture/dshow_devices_dshow.h"

#include <cstdio>
#include <vector>

#include "app/talvex_messages.h"
#include "capture/capture_graph.h"
#include "capture/grabber_type_dshow.h"

namespace talvex {
namespace {

// Clears the variant when it leaves scope.
struct ScopedVariant {
  VARIANT value;
  ScopedVariant() { ::VariantInit(&value); }
  ~ScopedVariant() { ::VariantClear(&value); }
};

class DshowDeviceEnumerator final : public DeviceEnumerator {
 public:
  Open open(DeviceCategory category) override {
    const CLSID& id = category == DeviceCategory::kVideoInput ? CLSID_VideoInputDeviceCategory
                                                              : CLSID_VideoCompressorCategory;
    const bool devices = category == DeviceCategory::kVideoInput;
    const HRESULT hr = open_device_category(id, enumerator_, monikers_);
    if (!enumerator_) {
      trace_failure(devices ? msg::kDeviceListNoEnumerator : msg::kCompressorListNoEnumerator, hr);
      return Open::kNoEnumerator;
    }
    if (hr != S_OK) {
      trace_failure(devices ? msg::kDeviceListNotEnumerable : msg::kCompressorListNotEnumerable,
                    hr);
      enumerator_.reset();
      return Open::kNotEnumerable;
    }
    return Open::kOk;
  }

  void for_each(std::size_t buffer_size,
                const std::function<void(const std::optional<std::string>&)>& visit) override {
    if (!monikers_) return;
    ComPtr<IMoniker> moniker;
    while (monikers_->Next(1, &moniker, nullptr) == S_OK) {
      visit(friendly_name(moniker.get(), buffer_size));
    }
    monikers_.reset();
    enumerator_.reset();
  }

 private:
  ComPtr<ICreateDevEnum> enumerator_;
  ComPtr<IEnumMoniker> monikers_;
};

}  // namespace

DshowCalls& dshow_calls() {
  static DshowCalls calls{::CoCreateInstance, screen_bits};
  return calls;
}

void trace_failure(int number, HRESULT hr) {
  char line[64];
  std::snprintf(line, sizeof line, "Talvex: message %03d from HRESULT 0x%08lX\n", number,
                static_cast<unsigned long>(hr));
  ::OutputDebugStringA(line);
}

std::optional<std::string> friendly_name(IMoniker* moniker, std::size_t buffer_size) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.out_void()))) {
    return std::nullopt;
  }
  ScopedVariant name;
  if (FAILED(bag->Read(L"FriendlyName", &name.value, nullptr)) || name.value.vt != VT_BSTR) {
    return std::nullopt;
  }
  // Converted whole, then cut to the buffer the tables and the lookup share.
  const int needed =
      ::WideCharToMultiByte(CP_ACP, 0, name.value.bstrVal, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::nullopt;
  std::vector<char> text(static_cast<std::size_t>(needed));
  ::WideCharToMultiByte(CP_ACP, 0, name.value.bstrVal, -1, text.data(), needed, nullptr, nullptr);
  std::string result(text.data());
  if (result.size() > buffer_size - 1) result.resize(buffer_size - 1);
  return result;
}

HRESULT open_device_category(REFCLSID category, ComPtr<ICreateDevEnum>& enumerator,
                             ComPtr<IEnumMoniker>& monikers) {
  monikers.reset();
  HRESULT hr = dshow_calls().create_instance(CLSID_SystemDeviceEnum, nullptr,
                                             CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                             IID_ICreateDevEnum, enumerator.out_void());
  if (FAILED(hr)) {
    enumerator.reset();
    return hr;
  }
  hr = enumerator->CreateClassEnumerator(category, &monikers, 0);
  if (hr != S_OK) monikers.reset();
  return hr;
}

std::unique_ptr<DeviceEnumerator> make_device_enumerator() {
  return std::make_unique<DshowDeviceEnumerator>();
}

}  // namespace talvex
