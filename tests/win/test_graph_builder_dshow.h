// A capture graph builder for the tests: it hands every call to the platform's builder and
// adds the three calls that Wine's builder lacks (SetOutputFileName, ControlStream,
// AllocCapFile) as Microsoft's DirectShow reference describes them, so that the capture
// graph takes the path it takes on Windows. What it relies on, and what it assumes, is
// told in the .cpp beside each call.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <atomic>

namespace talvex::testing {

// What the builders of this process were asked to do.
struct TestBuilderCalls {
  std::atomic<int> output_files{0};          // SetOutputFileName that made a multiplexer and writer
  std::atomic<int> flows{0};                 // ControlStream letting the capture stream flow
  std::atomic<int> holds{0};                 // ControlStream holding it off
  std::atomic<int> cap_files{0};             // AllocCapFile that re-created the file
  std::atomic<long long> cap_file_size{-1};  // the size of the last one
  std::atomic<int> gates{0};                 // stream-control gates put behind a Smart Tee
};
TestBuilderCalls& test_builder_calls();

// A new builder, for the DshowCalls seam (CLSID_CaptureGraphBuilder2).
HRESULT create_test_graph_builder(REFIID iid, void** out);

}  // namespace talvex::testing
