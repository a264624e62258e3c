// The COM module of a filter DLL: class factories for the filters that module_filters()
// names, and their registration in the device categories (regsvr32 / regsvr32 /u) with
// register_filter.
#include "dshow/module_win.h"

#include <dshow.h>

#include <atomic>
#include <string>

#include "dshow/dshow_base_dshow.h"

namespace {

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

std::wstring module_path() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(g_module, path, MAX_PATH * 2);
  return (n > 0 && n < MAX_PATH * 2) ? std::wstring(path, n) : std::wstring();
}

HRESULT unregister_all() {
  HRESULT result = S_OK;
  for (const FilterEntry& entry : module_filters()) {
    const HRESULT hr = unregister_filter(entry.registration);
    if (FAILED(hr)) result = hr;
  }
  return result;
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
    if (IsEqualCLSID(clsid, *entry.registration.clsid)) {
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
  for (const FilterEntry& entry : module_filters()) {
    const HRESULT hr = register_filter(entry.registration, path);
    if (FAILED(hr)) {
      unregister_all();
      return hr;
    }
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return unregister_all(); }
