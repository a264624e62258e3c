// Reading the replay camera's frames: 24-bit uncompressed BMP files from outside the
// program. Any byte sequence is safe to pass; what is not a valid 24-bit BMP is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "filters/rgb_image.h"

namespace talvex::filters {

// Largest accepted width and height, so that a forged header cannot ask for gigabytes.
inline constexpr int kMaxBmpSide = 8192;

// The picture of a 24-bit BI_RGB bitmap (bottom-up or top-down) held in `data`, or
// nothing when the bytes are not one.
std::optional<Rgb24Image> parse_bmp24(const std::uint8_t* data, std::size_t size);

}  // namespace talvex::filters
