// talvex_filters.dll: the virtual cameras for the tests and the demo; never installed.
#include <dshow.h>

#include "dshow/module_win.h"
#include "filters/camera_dshow.h"
#include "filters/filter_ids.h"

namespace talvex::dshow {

using namespace talvex::filters;

std::span<const FilterEntry> module_filters() {
  static const FilterEntry filters[] = {
      {&kClsidTestCamera, kTestCameraName, &CLSID_VideoInputDeviceCategory,
       [](IUnknown** out) { return create_camera(CameraModel::kTest, out); }, false},
      {&kClsidStillCamera, kStillCameraName, &CLSID_VideoInputDeviceCategory,
       [](IUnknown** out) { return create_camera(CameraModel::kStill, out); }, true},
      {&kClsidReplayCamera, kReplayCameraName, &CLSID_VideoInputDeviceCategory,
       [](IUnknown** out) { return create_camera(CameraModel::kReplay, out); }, false},
  };
  return filters;
}

}  // namespace talvex::dshow
