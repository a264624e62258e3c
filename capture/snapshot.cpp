#include "capture/snapshot.h"

#include <csetjmp>
#include <cstdio>
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

// Everything that lives across the library calls is set up before setjmp and holds no
// destructor that a longjmp would skip.
bool encode_rows(const FrameImage& image, std::FILE* stream, JSAMPLE* row) {
  jpeg_compress_struct cinfo;
  AbandoningErrors errors;
  StreamDestination destination;
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = abandon_encoding;
  if (setjmp(errors.abandon)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  destination.manager.init_destination = init_destination;
  destination.manager.empty_output_buffer = empty_output_buffer;
  destination.manager.term_destination = term_destination;
  destination.stream = stream;
  cinfo.dest = &destination.manager;

  cinfo.image_width = static_cast<JDIMENSION>(image.width());
  cinfo.image_height = static_cast<JDIMENSION>(image.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, image.quality, TRUE);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(image.dpi);
  cinfo.Y_density = static_cast<UINT16>(image.dpi);
  jpeg_start_compress(&cinfo, TRUE);
  for (int y = image.height() - 1; y >= 0; --y) {
    const std::uint8_t* bgr = image.row(y);
    for (int x = 0; x < image.width(); ++x) {
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

}  // namespace

bool encode_jpeg(const FrameImage& image, std::FILE* stream) {
  if (image.empty() || image.bits_per_pixel() != 24) return false;
  std::vector<JSAMPLE> row(static_cast<std::size_t>(image.width()) * 3);
  return encode_rows(image, stream, row.data());
}

int make_snapshot(const Settings& settings, int index) {
  if (settings.video_device == kNoneName) return msg::kOk;
  ScopedFile stream(system_calls().open_file(kSnapshotFileName, "w+b"));
  if (!stream) return 0;
  FrameImage source, snapshot;
  load_bmp(source, kFrameFileNames[index == 0 ? 0 : 1]);
  crop_region(source, 0, 0, kSnapshotRight, kSnapshotBottom, snapshot);
  encode_jpeg(snapshot, stream.get());
  stream.close();
  return msg::kOk;
}

}  // namespace talvex
