#include "capture/snapshot.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

// libjpeg's header needs these declared first.
#include <jpeglib.h>
#include <cstddef>

#include "app/talvex_messages.h"
#include "capture/working_files.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr std::size_t kDestinationBufferSize = 4096;

// The destination manager: compressed bytes go to the stream through a 4096-byte buffer.
struct StreamDestination {
  jpeg_destination_mgr manager;
  std::FILE* stream;
  JOCTET buffer[kDestinationBufferSize];
};

// A short write ends the encoding through the error exit.
void fail_write(j_compress_ptr cinfo) {
  cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
}

void init_destination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
  dest->manager.next_output_byte = dest->buffer;
  dest->manager.free_in_buffer = kDestinationBufferSize;
}

boolean empty_output_buffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
  if (system_calls().write_file(dest->buffer, kDestinationBufferSize, dest->stream) !=
      kDestinationBufferSize) {
    fail_write(cinfo);
  }
  dest->manager.next_output_byte = dest->buffer;
  dest->manager.free_in_buffer = kDestinationBufferSize;
  return TRUE;
}

void term_destination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
  const std::size_t used = kDestinationBufferSize - dest->manager.free_in_buffer;
  if (used > 0 && system_calls().write_file(dest->buffer, used, dest->stream) != used) {
    fail_write(cinfo);
  }
}

// The standard error manager, with an exit that abandons the encoding.
struct AbandoningErrors {
  jpeg_error_mgr manager;
  std::jmp_buf abandon;
};

void abandon_encoding(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<AbandoningErrors*>(cinfo->err)->abandon, 1);
}

// A picture of blue, green, red rows: `top` is the top row of the picture, `step` the
// distance in bytes from a row to the one below it.
struct BgrRows {
  int width;
  int height;
  const std::uint8_t* top;
  std::ptrdiff_t step;
};

// Everything that lives across the library calls is set up before setjmp and holds no
// destructor that a longjmp would skip.
bool encode_rows_to(const BgrRows& image, int quality, int dpi, jpeg_destination_mgr* destination,
                    JSAMPLE* row) {
  jpeg_compress_struct cinfo;
  AbandoningErrors errors;
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = abandon_encoding;
  if (setjmp(errors.abandon)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  cinfo.dest = destination;

  cinfo.image_width = static_cast<JDIMENSION>(image.width);
  cinfo.image_height = static_cast<JDIMENSION>(image.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(dpi);
  cinfo.Y_density = static_cast<UINT16>(dpi);
  jpeg_start_compress(&cinfo, TRUE);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* bgr = image.top + y * image.step;
    for (int x = 0; x < image.width; ++x) {
      row[3 * x] = bgr[3 * x + 2];
      row[3 * x + 1] = bgr[3 * x + 1];
      row[3 * x + 2] = bgr[3 * x];
    }
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

bool encode_rows(const BgrRows& image, int quality, int dpi, std::FILE* stream, JSAMPLE* row) {
  StreamDestination destination;
  destination.manager.init_destination = init_destination;
  destination.manager.empty_output_buffer = empty_output_buffer;
  destination.manager.term_destination = term_destination;
  destination.stream = stream;
  return encode_rows_to(image, quality, dpi, &destination.manager, row);
}

// The destination manager of an encoding into memory: the bytes grow a string.
struct MemoryDestination {
  jpeg_destination_mgr manager;
  std::string* out;
  std::size_t used;
};

void init_memory(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  dest->out->resize(kDestinationBufferSize);
  dest->used = 0;
  dest->manager.next_output_byte = reinterpret_cast<JOCTET*>(dest->out->data());
  dest->manager.free_in_buffer = dest->out->size();
}

boolean grow_memory(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  // The whole buffer is full when the library asks.
  dest->used = dest->out->size();
  bool grown = true;
  try {
    dest->out->resize(dest->out->size() * 2);
  } catch (const std::bad_alloc&) {
    grown = false;
  }
  if (!grown) fail_write(cinfo);  // outside the handler: the error exit jumps
  dest->manager.next_output_byte = reinterpret_cast<JOCTET*>(dest->out->data() + dest->used);
  dest->manager.free_in_buffer = dest->out->size() - dest->used;
  return TRUE;
}

void end_memory(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  dest->out->resize(dest->out->size() - dest->manager.free_in_buffer);
}

// The snapshot's crop read straight from the frame file: only its rows, and of each only
// the columns it keeps, converted as the loader converts them. What crop_region takes from
// the loaded picture: the top min(H, 180) rows and the left min(W, 240) columns. Empty
// when the file is refused or comes up short.
BgrRows read_crop(const char* file_name, std::vector<std::uint8_t>& pixels,
                  std::vector<std::uint8_t>& raw) {
  FrameFileReader reader;
  if (!reader.open(file_name)) return BgrRows{0, 0, nullptr, 0};
  const int width = std::min(reader.width(), kSnapshotRight);
  const int height = std::min(reader.rows(), kSnapshotBottom);
  const std::size_t raw_bytes = static_cast<std::size_t>(width) * (reader.bits() / 8);
  const std::size_t bgr_bytes = static_cast<std::size_t>(width) * 3;
  if (raw.size() < raw_bytes) raw.resize(raw_bytes);
  if (pixels.size() < bgr_bytes * height) pixels.resize(bgr_bytes * height);
  for (int y = 0; y < height; ++y) {
    // Row y from the top of the picture is stored image row rows - 1 - y.
    if (!reader.read_row_start(reader.file_row(reader.rows() - 1 - y), raw_bytes, raw.data())) {
      return BgrRows{0, 0, nullptr, 0};
    }
    frame_row_to_bgr(raw.data(), reader.bits(), width, pixels.data() + y * bgr_bytes);
  }
  return BgrRows{width, height, pixels.data(), static_cast<std::ptrdiff_t>(bgr_bytes)};
}

}  // namespace

bool encode_jpeg(const FrameImage& image, std::FILE* stream) {
  if (image.empty() || image.bits_per_pixel() != 24) return false;
  try {
    std::vector<JSAMPLE> row(static_cast<std::size_t>(image.width()) * 3);
    const BgrRows rows{image.width(), image.height(), image.row(image.height() - 1),
                       -static_cast<std::ptrdiff_t>(image.stride())};
    return encode_rows(rows, image.quality, image.dpi, stream, row.data());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool encode_frame_jpeg(const std::uint8_t* pixels, std::size_t size, int width, int height,
                       int bit_count, int quality, std::string& out) {
  out.clear();
  if (bit_count != 16 && bit_count != 24 && bit_count != 32) return false;
  // Rows of a grabbed frame: padded to 4 bytes, the bottom row first when the height is
  // positive, the top row first when it is negative.
  const bool bottom_up = height > 0;
  const int rows = height > 0 ? height : -height;
  if (width <= 0 || rows <= 0 || width > kLargestSide || rows > kLargestSide) return false;
  const std::size_t stride = ((static_cast<std::size_t>(width) * bit_count + 31) / 32) * 4;
  if (size < stride * static_cast<std::size_t>(rows)) return false;
  try {
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * 3 * rows);
    for (int y = 0; y < rows; ++y) {
      const int stored = bottom_up ? rows - 1 - y : y;
      frame_row_to_bgr(pixels + stride * stored, bit_count, width,
                       bgr.data() + static_cast<std::size_t>(y) * width * 3);
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    MemoryDestination destination;
    destination.manager.init_destination = init_memory;
    destination.manager.empty_output_buffer = grow_memory;
    destination.manager.term_destination = end_memory;
    destination.out = &out;
    const BgrRows image{width, rows, bgr.data(), static_cast<std::ptrdiff_t>(width) * 3};
    if (encode_rows_to(image, quality, FrameImage::kDefaultDpi, &destination.manager, row.data())) {
      return true;
    }
  } catch (const std::bad_alloc&) {
  }
  out.clear();
  return false;
}

namespace {

// Encodes the crop of the frame file into the stream from its start; the number of bytes
// the stream then holds, or -1.
long write_snapshot(std::FILE* stream, const char* frame_file) {
  // Kept by the thread: a steady frame size reuses them every pass.
  thread_local std::vector<std::uint8_t> pixels, raw;
  thread_local std::vector<JSAMPLE> row;
  const BgrRows crop = read_crop(frame_file, pixels, raw);
  // A refused frame file leaves the snapshot empty, as an empty crop fails the encoder.
  if (crop.width > 0 && crop.height > 0) {
    if (row.size() < static_cast<std::size_t>(crop.width) * 3) row.resize(crop.width * 3);
    encode_rows(crop, FrameImage::kDefaultQuality, FrameImage::kDefaultDpi, stream, row.data());
  }
  return std::ftell(stream);
}

}  // namespace

int make_snapshot(const Settings& settings, int index) {
  if (settings.video_device == kNoneName) return msg::kOk;
  const char* frame_file = kFrameFileNames[index == 0 ? 0 : 1];
  try {
    // Made once: the name as the file-system library takes it.
    static const std::filesystem::path snapshot_path(kSnapshotFileName);
    {
      // An existing snapshot is rewritten from its first byte and then cut to what was
      // written: the bytes of a file emptied first, without emptying it, which makes some
      // file systems write the whole file out at once.
      ScopedFile stream(system_calls().open_file(kSnapshotFileName, "r+b"));
      if (stream) {
        const long written = write_snapshot(stream.get(), frame_file);
        if (stream.close() && written >= 0) {
          std::error_code error;
          std::filesystem::resize_file(snapshot_path, static_cast<std::uintmax_t>(written), error);
          if (!error) return msg::kOk;
        }
      }
    }
    // No snapshot yet, or the rewrite failed: the file is created afresh.
    ScopedFile stream(system_calls().open_file(kSnapshotFileName, "w+b"));
    if (!stream) return 0;
    write_snapshot(stream.get(), frame_file);
    stream.close();
    return msg::kOk;
  } catch (const std::bad_alloc&) {
    // No memory for the crop: no snapshot, and the loop logs it as failed.
    std::FILE* emptied = system_calls().open_file(kSnapshotFileName, "wb");
    if (emptied) system_calls().close_file(emptied);
    return 0;
  }
}

}  // namespace talvex
