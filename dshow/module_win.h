// The COM module shared by our two filter DLLs: class factories, DllGetClassObject and
// DllCanUnloadNow, and the registration of each filter in its device category
// (DllRegisterServer / DllUnregisterServer, as regsvr32 calls them, through
// register_filter). Each DLL says which filters it serves with module_filters().
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <span>

#include "dshow/filter_registration_win.h"

namespace talvex::dshow {

struct FilterEntry {
  FilterRegistration registration;
  HRESULT (*create)(IUnknown** out);
};

// The filters of this DLL; defined once per DLL.
std::span<const FilterEntry> module_filters();

}  // namespace talvex::dshow
