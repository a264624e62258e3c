// The capture graph and the catalogue on Wine's DirectShow, without a camera: the system's
// own compressors, empty device categories and the failures provoked through the seam.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "capture/capture_graph.h"
#include "capture/dshow_devices_dshow.h"
#include "common/sample_grabber_win.h"

namespace talvex {
namespace {

std::vector<int> logged;
void remember(int number) { logged.push_back(number); }

class CaptureGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    saved_ = dshow_calls();
    logged.clear();
  }
  void TearDown() override {
    dshow_calls() = saved_;
    ::CoUninitialize();
  }
  DshowCalls saved_{};
};

template <typename Table>
std::vector<std::string> entries(const Table& table) {
  std::vector<std::string> out;
  for (int i = 0; i < table.count(); ++i) out.push_back(table[i]);
  return out;
}

TEST_F(CaptureGraphTest, CatalogueListsTheSystemsCompressors) {
  auto enumerator = make_device_enumerator();
  CompressorTable compressors;
  EXPECT_EQ(list_video_compressors(*enumerator, compressors), msg::kOk);
  const auto names = entries(compressors);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.back(), "<none>");
  EXPECT_NE(std::find(names.begin(), names.end(), "Cinepak Video codec"), names.end());
}

TEST_F(CaptureGraphTest, EnumeratorThatCannotBeCreated) {
  dshow_calls().create_instance = [](REFCLSID, LPUNKNOWN, DWORD, REFIID, void** out) -> HRESULT {
    *out = nullptr;
    return REGDB_E_CLASSNOTREG;
  };
  auto enumerator = make_device_enumerator();
  DeviceTable devices;
  EXPECT_EQ(list_video_devices(*enumerator, devices), 21);
  EXPECT_EQ(entries(devices), std::vector<std::string>{"<none>"});
  CompressorTable compressors;
  EXPECT_EQ(list_video_compressors(*enumerator, compressors), 29);
}

TEST_F(CaptureGraphTest, NoDeviceBuildsNothing) {
  Settings settings;
  settings.compressor = "Cinepak Video codec";
  auto graph = make_capture_graph(settings, nullptr, remember);
  EXPECT_EQ(graph->build("<none>", "Cinepak Video codec"), msg::kOk);
  EXPECT_FALSE(graph->built());
  EXPECT_EQ(settings.video_device, "<none>");
  EXPECT_EQ(settings.compressor, "<none>");
  EXPECT_EQ(graph->save_graph_file("Talvex.grf"), E_FAIL);
  EXPECT_FALSE(graph->has_device());
  long size = 0;
  EXPECT_FALSE(graph->grabbed_size(size));
  graph->release();
  graph->release();  // idempotent
}

// No camera registered in the test prefix: an empty video-input category.
TEST_F(CaptureGraphTest, EmptyVideoCategory) {
  auto enumerator = make_device_enumerator();
  DeviceTable devices;
  EXPECT_EQ(list_video_devices(*enumerator, devices), 22);
  EXPECT_EQ(entries(devices), std::vector<std::string>{"<none>"});
  Settings settings;
  settings.compressor = "Cinepak Video codec";
  auto graph = make_capture_graph(settings, nullptr, remember);
  EXPECT_EQ(graph->build("Some Camera", "Cinepak Video codec"), 8);
  EXPECT_EQ(settings.video_device, "<none>");
  EXPECT_EQ(settings.compressor, "<none>");
  graph->release();
}

// Each creation step failing on its own gives its number and leaves the names as told.
TEST_F(CaptureGraphTest, CreationFailuresGiveTheirNumbers) {
  struct Case {
    const CLSID* failing;
    int expected;
    const char* device_after;
    const char* compressor_after;
  } cases[] = {
      {&CLSID_FilterGraph, 5, "<none>", "<none>"},
      {&CLSID_CaptureGraphBuilder2, 6, "<none>", "<none>"},
      {&CLSID_SystemDeviceEnum, 7, "<none>", "<none>"},
  };
  static const CLSID* failing = nullptr;
  for (const Case& c : cases) {
    failing = c.failing;
    dshow_calls().create_instance = [](REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                       void** out) -> HRESULT {
      if (clsid == *failing) {
        *out = nullptr;
        return E_OUTOFMEMORY;
      }
      return ::CoCreateInstance(clsid, outer, context, iid, out);
    };
    Settings settings;
    settings.video_device = "Some Camera";
    settings.compressor = "Cinepak Video codec";
    auto graph = make_capture_graph(settings, nullptr, remember);
    EXPECT_EQ(graph->build("Some Camera", "Cinepak Video codec"), c.expected);
    EXPECT_EQ(settings.video_device, c.device_after) << c.expected;
    EXPECT_EQ(settings.compressor, c.compressor_after) << c.expected;
    graph->release();
  }
}

}  // namespace
}  // namespace talvex
