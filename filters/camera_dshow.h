// The virtual cameras: live source filters with a capture pin (and for some a preview
// pin) that deliver uncompressed RGB frames at the configured size and rate.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace talvex::filters {

enum class CameraModel {
  kTest,    // moving scene, capture pin only
  kStill,   // still scene, capture and preview pins
  kReplay,  // BMP files of TALVEX_TESTCAM_FRAMES, capture pin only
};

// Creates a camera filter; *out receives its IUnknown.
HRESULT create_camera(CameraModel model, IUnknown** out);

}  // namespace talvex::filters
