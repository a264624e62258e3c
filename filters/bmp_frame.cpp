#include "filters/bmp_frame.h"

#include <cstring>

namespace talvex::filters {

namespace {

std::uint32_t u32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::int32_t s32(const std::uint8_t* p) { return static_cast<std::int32_t>(u32(p)); }

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

}  // namespace

std::optional<Rgb24Image> parse_bmp24(const std::uint8_t* data, std::size_t size) {
  if (!data || size < kFileHeaderSize + kInfoHeaderSize) return std::nullopt;
  if (data[0] != 'B' || data[1] != 'M') return std::nullopt;
  const std::uint32_t pixel_offset = u32(data + 10);
  const std::uint8_t* info = data + kFileHeaderSize;
  const std::uint32_t header_size = u32(info);
  // BITMAPINFOHEADER and its later extensions (V4, V5) share the first 40 bytes.
  if (header_size < kInfoHeaderSize || header_size > size - kFileHeaderSize) return std::nullopt;
  const std::int32_t width = s32(info + 4);
  const std::int32_t height = s32(info + 8);
  if (u16(info + 12) != 1 || u16(info + 14) != 24 || u32(info + 16) != 0) return std::nullopt;
  if (width <= 0 || width > kMaxBmpSide || height == 0 || height < -kMaxBmpSide ||
      height > kMaxBmpSide) {
    return std::nullopt;
  }
  const bool top_down = height < 0;
  const int rows = top_down ? -height : height;
  const std::size_t stride = row_stride(width, PixelFormat::kRgb24);
  if (pixel_offset < kFileHeaderSize + header_size || pixel_offset > size) return std::nullopt;
  // The last row needs only its pixels, not its padding.
  const std::size_t needed = stride * (rows - 1) + static_cast<std::size_t>(width) * 3;
  if (size - pixel_offset < needed) return std::nullopt;

  Rgb24Image image;
  image.width = width;
  image.height = rows;
  image.bgr.resize(static_cast<std::size_t>(width) * rows * 3);
  for (int y = 0; y < rows; ++y) {
    const int source_row = top_down ? rows - 1 - y : y;
    std::memcpy(image.bgr.data() + static_cast<std::size_t>(y) * width * 3,
                data + pixel_offset + stride * source_row, static_cast<std::size_t>(width) * 3);
  }
  return image;
}

}  // namespace talvex::filters
