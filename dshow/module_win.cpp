// The COM module of a filter DLL: class factories for the filters that module_filters()
// names, and their registration in the device categories (regsvr32 / regsvr32 /u).
#include "dshow/module_win.h"

#include <dshow.h>

#include <atomic>
#include <string>

#include "common/com_ptr_win.h"
#include "dshow/dshow_base_dshow.h"

namespace {

using talvex::ComPtr;
using namespace talvex::dshow;

HMODULE g_module = nullptr;
std::atomic<long> g_server_locks{0};

class ClassFactory : public IClassFactory {
 public:
  explicit ClassFactory(const FilterEntry& entry) : entry_(entry) {
    ++talvex::dshow::live_objects();
  }
  virtual ~ClassFactory() { --talvex::dshow::live_objects(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
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
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    HRESULT hr = entry_.create(&object);
    if (FAILED(hr)) return hr;
    hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++g_server_locks;
    } else {
      --g_server_locks;
    }
    return S_OK;
  }

 private:
  LONG references_ = 1;
  const FilterEntry& entry_;
};

std::wstring guid_text(const GUID& guid) {
  wchar_t text[64];
  ::StringFromGUID2(guid, text, 64);
  return text;
}

std::wstring module_path() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(g_module, path, MAX_PATH * 2);
  return (n > 0 && n < MAX_PATH * 2) ? std::wstring(path, n) : std::wstring();
}

LSTATUS set_string(HKEY key, const wchar_t* value_name, const std::wstring& value) {
  return ::RegSetValueExW(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// HKCR\CLSID\{clsid} with its name, and InprocServer32 with the DLL's path.
HRESULT register_server(const FilterEntry& entry, const std::wstring& path) {
  const std::wstring key_name = L"CLSID\\" + guid_text(*entry.clsid);
  HKEY key;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  LSTATUS status = set_string(key, nullptr, entry.name);
  HKEY server;
  if (status == ERROR_SUCCESS) {
    status = ::RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                               nullptr);
    if (status == ERROR_SUCCESS) {
      status = set_string(server, nullptr, path);
      if (status == ERROR_SUCCESS) status = set_string(server, L"ThreadingModel", L"Both");
      ::RegCloseKey(server);
    }
  }
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

void unregister_server(const FilterEntry& entry) {
  const std::wstring key_name = L"CLSID\\" + guid_text(*entry.clsid);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key_name.c_str());
}

HRESULT register_in_category(IFilterMapper2* mapper, const FilterEntry& entry) {
  const bool compressor = IsEqualGUID(*entry.category, CLSID_VideoCompressorCategory);
  REGPINTYPES video = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
  REGFILTERPINS2 pins[2] = {};
  ULONG pin_count = 0;
  if (compressor) {
    pins[pin_count].cInstances = 1;
    pins[pin_count].nMediaTypes = 1;
    pins[pin_count].lpMediaType = &video;
    ++pin_count;
  }
  pins[pin_count].dwFlags = REG_PINFLAG_B_OUTPUT;
  pins[pin_count].cInstances = 1;
  pins[pin_count].nMediaTypes = 1;
  pins[pin_count].lpMediaType = &video;
  pins[pin_count].clsPinCategory = compressor ? nullptr : &PIN_CATEGORY_CAPTURE;
  ++pin_count;
  if (entry.preview_pin) {
    pins[pin_count] = pins[pin_count - 1];
    pins[pin_count].clsPinCategory = &PIN_CATEGORY_PREVIEW;
    ++pin_count;
  }
  REGFILTER2 filter = {};
  filter.dwVersion = 2;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins2 = pin_count;
  filter.rgPins2 = pins;
  const std::wstring instance = guid_text(*entry.clsid);
  return mapper->RegisterFilter(*entry.clsid, entry.name, nullptr, entry.category, instance.c_str(),
                                &filter);
}

// COM for the duration of a registration call, whatever the caller did.
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }

 private:
  HRESULT hr_;
};

HRESULT unregister_all() {
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, mapper.out_void());
  for (const FilterEntry& entry : module_filters()) {
    if (mapper) {
      const std::wstring instance = guid_text(*entry.clsid);
      mapper->UnregisterFilter(entry.category, instance.c_str(), *entry.clsid);
    }
    unregister_server(entry);
  }
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const FilterEntry& entry : module_filters()) {
    if (IsEqualCLSID(clsid, *entry.clsid)) {
      auto* factory = new ClassFactory(entry);
      const HRESULT hr = factory->QueryInterface(iid, out);
      factory->Release();
      return hr;
    }
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return (talvex::dshow::live_objects() == 0 && g_server_locks == 0) ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  const std::wstring path = module_path();
  if (path.empty()) return SELFREG_E_CLASS;
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, mapper.out_void());
  if (FAILED(hr)) return hr;
  for (const FilterEntry& entry : module_filters()) {
    hr = register_server(entry, path);
    if (SUCCEEDED(hr)) hr = register_in_category(mapper.get(), entry);
    if (FAILED(hr)) {
      unregister_all();
      return hr;
    }
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return unregister_all(); }
