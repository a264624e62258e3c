// One uncompressed RGB frame to one baseline JPEG picture (a Motion-JPEG key frame),
// with libjpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dshow/frame_format.h"

namespace talvex::codec {

using dshow::PixelFormat;

inline constexpr int kMjpegQuality = 75;

// The largest JPEG that encode_frame produces for a width x height picture; the output
// buffers of the compressor are this large.
std::size_t max_jpeg_size(int width, int height);

// Encodes `frame` (rows padded to 4 bytes; bottom row first when `bottom_up`) into `out`,
// replacing its contents. False when libjpeg reports an error.
bool encode_frame(const std::uint8_t* frame, int width, int height, PixelFormat format,
                  bool bottom_up, int quality, std::vector<std::uint8_t>& out);

}  // namespace talvex::codec
