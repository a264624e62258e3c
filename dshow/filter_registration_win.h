// What registering a filter writes, in one place for everyone who registers one: its class
// with the DLL that serves it (HKCR\CLSID\{clsid}, InprocServer32) and its entry in its
// device category, through the system's filter mapper. A filter DLL's DllRegisterServer
// calls it for its own filters; the installer calls it for the compressor it installs,
// which it never loads. Nothing here loads the server DLL.
#pragma once

#include <windows.h>

#include <string>

namespace talvex::dshow {

struct FilterRegistration {
  const CLSID* clsid;
  const wchar_t* name;
  const CLSID* category;
  bool preview_pin;  // registered pin list only; the filter decides at run time
};

// Registers `filter` as served by the DLL at `server_path`. On failure, what was written for
// it is removed again.
HRESULT register_filter(const FilterRegistration& filter, const std::wstring& server_path);
// Removes what register_filter writes; S_OK, or the failure to reach the filter mapper (the
// class keys are removed even then).
HRESULT unregister_filter(const FilterRegistration& filter);

}  // namespace talvex::dshow
