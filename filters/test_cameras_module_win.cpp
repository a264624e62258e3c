// talvex_filters.dll: the virtual cameras for the tests and the demo; never installed.
#include <dshow.h>

#include "dshow/module_win.h"
#include "filters/camera_dshow.h"
#include "filters/filter_ids.h"

namespace talvex::dshow {

using namespace talvex::filters;

std::span<const FilterEntry> module_filters() {
  static const FilterEntry filters[] = {
      {{&kClsidTestCamera, kTestCameraName, &CLSID_VideoInputDeviceCategory, false},
       [](IUnknown** out) { return create_camera(CameraModel::kTest, out); }},
      {{&kClsidStillCamera, kStillCameraName, &CLSID_VideoInputDeviceCategory, true},
       [](IUnknown** out) { return create_camera(CameraModel::kStill, out); }},
      {{&kClsidReplayCamera, kReplayCameraName, &CLSID_VideoInputDeviceCategory, false},
       [](IUnknown** out) { return create_camera(CameraModel::kReplay, out); }},
  };
  return filters;
}

}  // namespace talvex::dshow
