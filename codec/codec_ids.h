// Class identifier and friendly name of the product's compressor in talvex_codec.dll, for
// the module, its registration and the programs and tests that look it up.
#pragma once

#include <guiddef.h>

namespace talvex::codec {

// {2647AAA3-6435-4D2A-9134-00A91A9F139E}
inline constexpr GUID kClsidMjpegCompressor = {
    0x2647aaa3, 0x6435, 0x4d2a, {0x91, 0x34, 0x00, 0xa9, 0x1a, 0x9f, 0x13, 0x9e}};

inline constexpr const wchar_t* kMjpegCompressorName = L"Talvex MJPEG Compressor";

}  // namespace talvex::codec
