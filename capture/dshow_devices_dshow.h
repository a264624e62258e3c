// DirectShow plumbing shared by the capture graph and the device catalogue: the calls a
// test must be able to make fail, and the friendly-name lookup.
#pragma once

#include <dshow.h>

#include <optional>
#include <string>

#include "common/com_ptr_win.h"

namespace talvex {

// Platform calls that tests replace to provoke failures the system won't give on demand.
struct DshowCalls {
  HRESULT(WINAPI* create_instance)
  (REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, void** object);
  int (*screen_bits)();  // bits per pixel of the screen
};
DshowCalls& dshow_calls();

// Keeps the platform's result where it becomes a message number: a line in the debugger's
// output ("Talvex: message 035 from HRESULT 0x80040217"), never in the program's log.
void trace_failure(int number, HRESULT hr);

// The moniker's "FriendlyName" in the ANSI code page, cut to `buffer_size` - 1 bytes, or
// nothing when it can't be read.
std::optional<std::string> friendly_name(IMoniker* moniker, std::size_t buffer_size);

// Enumerates a device category: S_OK with `monikers`, or the failure (S_FALSE for an
// empty category) after which nothing is held.
HRESULT open_device_category(REFCLSID category, ComPtr<ICreateDevEnum>& enumerator,
                             ComPtr<IEnumMoniker>& monikers);

}  // namespace talvex
