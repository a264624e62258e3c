// What the platform itself keeps of a graph rebuild. Under Wine 8 every filter graph leaves
// an event behind and every enumeration of a device category a few registry keys (measured:
// a plain CLSID_FilterGraph with its capture graph builder, created and released, one event;
// the video-input category listed with its friendly names, five keys). Tests that rebuild
// graphs many times compare what the program gains with this, measured in the same run.
#pragma once

#include <windows.h>

#include <dshow.h>

#include "common/com_ptr_win.h"
#include "tests/win/process_counts_win.h"

namespace talvex::testing {

// The handles this process gains from `cycles` rounds of what a graph build asks of the
// platform outside our code: a filter graph and its capture graph builder, and both device
// categories listed with their friendly names. COM must be initialised.
inline long platform_rebuild_handles(int cycles) {
  auto list = [](REFCLSID category) {
    ComPtr<ICreateDevEnum> devices;
    ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                       devices.out_void());
    ComPtr<IEnumMoniker> monikers;
    if (!devices || devices->CreateClassEnumerator(category, &monikers, 0) != S_OK) return;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
      ComPtr<IPropertyBag> bag;
      if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.out_void()))) {
        continue;
      }
      VARIANT name;
      ::VariantInit(&name);
      bag->Read(L"FriendlyName", &name, nullptr);
      ::VariantClear(&name);
    }
  };
  const unsigned long before = process_handle_count(::GetCurrentProcessId());
  for (int i = 0; i < cycles; ++i) {
    ComPtr<IGraphBuilder> graph;
    ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                       graph.out_void());
    ComPtr<ICaptureGraphBuilder2> builder;
    ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                       IID_ICaptureGraphBuilder2, builder.out_void());
    if (builder && graph) builder->SetFiltergraph(graph.get());
    list(CLSID_VideoInputDeviceCategory);
    list(CLSID_VideoCompressorCategory);
  }
  return static_cast<long>(process_handle_count(::GetCurrentProcessId())) -
         static_cast<long>(before);
}

}  // namespace talvex::testing
