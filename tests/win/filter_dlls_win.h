// Our filter DLLs registered for as long as a test needs them: the test cameras
// (talvex_filters.dll) and the compressor that the product installs (talvex_codec.dll).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace talvex::testing {

class FilterDlls {
 public:
  // Loads each DLL from `folder` (with or without its last backslash; empty: the program's
  // own search) and registers it.
  explicit FilterDlls(const std::string& folder = "") {
    for (const char* name : {"talvex_filters.dll", "talvex_codec.dll"}) {
      const bool joined = folder.empty() || folder.back() == '\\';
      const std::string path = folder + (joined ? "" : "\\") + name;
      HMODULE module = ::LoadLibraryA(path.c_str());
      if (!module) {
        result_ = HRESULT_FROM_WIN32(::GetLastError());
        continue;
      }
      modules_.push_back(module);
      const HRESULT hr = call(module, "DllRegisterServer");
      if (FAILED(hr) && SUCCEEDED(result_)) result_ = hr;
    }
  }
  FilterDlls(const FilterDlls&) = delete;
  FilterDlls& operator=(const FilterDlls&) = delete;
  ~FilterDlls() { unregister(); }

  // S_OK when every DLL was loaded and registered.
  HRESULT result() const { return result_; }

  // Unregisters and unloads them; S_OK when every unregistration succeeded.
  HRESULT unregister() {
    HRESULT result = S_OK;
    for (HMODULE module : modules_) {
      const HRESULT hr = call(module, "DllUnregisterServer");
      if (FAILED(hr)) result = hr;
      ::FreeLibrary(module);
    }
    modules_.clear();
    return result;
  }

 private:
  static HRESULT call(HMODULE module, const char* name) {
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return entry ? entry() : E_FAIL;
  }

  std::vector<HMODULE> modules_;
  HRESULT result_ = S_OK;
};

}  // namespace talvex::testing
