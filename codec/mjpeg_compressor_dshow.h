// The MJPEG compressor: a transform filter from uncompressed RGB to Motion-JPEG, one key
// frame per sample.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace talvex::codec {

HRESULT create_mjpeg_compressor(IUnknown** out);

}  // namespace talvex::codec
