#include "dshow/filter_registration_win.h"

#include <dshow.h>
#include <olectl.h>

#include "common/com_ptr_win.h"

namespace talvex::dshow {
namespace {

std::wstring guid_text(const GUID& guid) {
  wchar_t text[64];
  ::StringFromGUID2(guid, text, 64);
  return text;
}

LSTATUS set_string(HKEY key, const wchar_t* value_name, const std::wstring& value) {
  return ::RegSetValueExW(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// HKCR\CLSID\{clsid} with its name, and InprocServer32 with the DLL's path.
HRESULT register_server(const FilterRegistration& filter, const std::wstring& path) {
  const std::wstring key_name = L"CLSID\\" + guid_text(*filter.clsid);
  HKEY key;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  LSTATUS status = set_string(key, nullptr, filter.name);
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

void unregister_server(const FilterRegistration& filter) {
  const std::wstring key_name = L"CLSID\\" + guid_text(*filter.clsid);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key_name.c_str());
}

HRESULT register_in_category(IFilterMapper2* mapper, const FilterRegistration& filter) {
  const bool compressor = IsEqualGUID(*filter.category, CLSID_VideoCompressorCategory);
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
  if (filter.preview_pin) {
    pins[pin_count] = pins[pin_count - 1];
    pins[pin_count].clsPinCategory = &PIN_CATEGORY_PREVIEW;
    ++pin_count;
  }
  REGFILTER2 description = {};
  description.dwVersion = 2;
  description.dwMerit = MERIT_DO_NOT_USE;
  description.cPins2 = pin_count;
  description.rgPins2 = pins;
  const std::wstring instance = guid_text(*filter.clsid);
  return mapper->RegisterFilter(*filter.clsid, filter.name, nullptr, filter.category,
                                instance.c_str(), &description);
}

// COM for the duration of a registration call, whatever the caller did.
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }

 private:
  HRESULT hr_;
};

HRESULT filter_mapper(ComPtr<IFilterMapper2>& mapper) {
  return ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                            mapper.out_void());
}

}  // namespace

HRESULT register_filter(const FilterRegistration& filter, const std::wstring& server_path) {
  if (server_path.empty()) return SELFREG_E_CLASS;
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = filter_mapper(mapper);
  if (FAILED(hr)) return hr;
  hr = register_server(filter, server_path);
  if (SUCCEEDED(hr)) hr = register_in_category(mapper.get(), filter);
  if (FAILED(hr)) unregister_filter(filter);
  return hr;
}

HRESULT unregister_filter(const FilterRegistration& filter) {
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  const HRESULT hr = filter_mapper(mapper);
  if (mapper) {
    const std::wstring instance = guid_text(*filter.clsid);
    mapper->UnregisterFilter(filter.category, instance.c_str(), *filter.clsid);
  }
  unregister_server(filter);
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace talvex::dshow
