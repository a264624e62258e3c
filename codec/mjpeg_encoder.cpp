#include "codec/mjpeg_encoder.h"

#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace talvex::codec {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void on_error(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void on_message(j_common_ptr) {}

// Destination manager that grows a std::vector.
struct VectorDestination {
  jpeg_destination_mgr base;
  std::vector<std::uint8_t>* out;
};

constexpr std::size_t kChunk = 64 * 1024;

void init_destination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  dest->out->resize(kChunk);
  dest->base.next_output_byte = dest->out->data();
  dest->base.free_in_buffer = dest->out->size();
}

boolean empty_output_buffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  const std::size_t used = dest->out->size();
  dest->out->resize(used + kChunk);
  dest->base.next_output_byte = dest->out->data() + used;
  dest->base.free_in_buffer = kChunk;
  return TRUE;
}

void term_destination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  dest->out->resize(dest->out->size() - dest->base.free_in_buffer);
}

void to_rgb_row(const std::uint8_t* src, int width, PixelFormat format, std::uint8_t* rgb) {
  for (int x = 0; x < width; ++x) {
    switch (format) {
      case PixelFormat::kRgb24:
        rgb[3 * x] = src[3 * x + 2];
        rgb[3 * x + 1] = src[3 * x + 1];
        rgb[3 * x + 2] = src[3 * x];
        break;
      case PixelFormat::kRgb32:
        rgb[3 * x] = src[4 * x + 2];
        rgb[3 * x + 1] = src[4 * x + 1];
        rgb[3 * x + 2] = src[4 * x];
        break;
      case PixelFormat::kRgb555: {
        const unsigned word = src[2 * x] | (src[2 * x + 1] << 8);
        const unsigned r = (word >> 10) & 31, g = (word >> 5) & 31, b = word & 31;
        rgb[3 * x] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
        rgb[3 * x + 1] = static_cast<std::uint8_t>((g << 3) | (g >> 2));
        rgb[3 * x + 2] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
        break;
      }
    }
  }
}

// Only trivially destructible locals live in the frame that setjmp marks.
bool compress(jpeg_compress_struct& cinfo, ErrorManager& errors, VectorDestination& dest,
              const std::uint8_t* frame, int width, int height, PixelFormat format, bool bottom_up,
              int quality, std::uint8_t* rgb_row) {
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = on_error;
  errors.base.output_message = on_message;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest.base.init_destination = init_destination;
  dest.base.empty_output_buffer = empty_output_buffer;
  dest.base.term_destination = term_destination;
  cinfo.dest = &dest.base;
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t stride = row_stride(width, format);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int top_row = static_cast<int>(cinfo.next_scanline);
    const int stored_row = bottom_up ? height - 1 - top_row : top_row;
    to_rgb_row(frame + stride * stored_row, width, format, rgb_row);
    JSAMPROW rows[1] = {rgb_row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

std::size_t max_jpeg_size(int width, int height) {
  // Three bytes a pixel is beyond what quality 75 reaches even for noise; the margin
  // covers the headers and the Huffman tables.
  return static_cast<std::size_t>(width) * height * 3 + 65536;
}

bool encode_frame(const std::uint8_t* frame, int width, int height, PixelFormat format,
                  bool bottom_up, int quality, std::vector<std::uint8_t>& out) {
  out.clear();
  if (!frame || width < 1 || height < 1) return false;
  std::vector<std::uint8_t> rgb_row(static_cast<std::size_t>(width) * 3);
  jpeg_compress_struct cinfo{};
  ErrorManager errors{};
  VectorDestination dest{};
  dest.out = &out;
  if (!compress(cinfo, errors, dest, frame, width, height, format, bottom_up, quality,
                rgb_row.data())) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace talvex::codec
