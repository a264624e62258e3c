// How the product's compressor is registered: the one table that talvex_codec.dll's own
// DllRegisterServer and the installer both register it from, so that the two write the same.
#pragma once

#include <dshow.h>

#include "codec/codec_ids.h"
#include "dshow/filter_registration_win.h"

namespace talvex::codec {

inline const dshow::FilterRegistration kMjpegCompressorRegistration = {
    &kClsidMjpegCompressor, kMjpegCompressorName, &CLSID_VideoCompressorCategory, false};

}  // namespace talvex::codec
