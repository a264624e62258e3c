// The COM module shared by our two filter DLLs: class factories, DllGetClassObject and
// DllCanUnloadNow, and the registration of each filter in its device category
// (DllRegisterServer / DllUnregisterServer, as regsvr32 calls them). Each DLL says which
// filters it serves with module_filters().
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <span>

namespace talvex::dshow {

struct FilterEntry {
  const CLSID* clsid;
  const wchar_t* name;
  const CLSID* category;
  HRESULT (*create)(IUnknown** out);
  bool preview_pin;  // registered pin list only; the filter decides at run time
};

// The filters of this DLL; defined once per DLL.
std::span<const FilterEntry> module_filters();

}  // namespace talvex::dshow
