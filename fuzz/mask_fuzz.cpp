// Any bytes as "Talvex_mask.bmp": read_mask_bytes either refuses them, leaving the picture
// as it was, or gives weights for every pixel, not all zero, that scale to any frame size;
// the file reader decides exactly as the in-memory parser. The same bytes as the older
// frame file: the detector with the mask and the light filter runs on whatever they give.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include "capture/frame_buffer.h"
#include "capture/motion_filter.h"
#include "capture/motion_mask.h"

namespace {

std::filesystem::path scratch;

void remove_scratch() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(scratch, ignored);
}

// A scratch folder, current while the target runs, holding a newer frame to compare with.
bool enter_scratch() {
  scratch =
      std::filesystem::temp_directory_path() / ("talvex_mask_fuzz_" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  std::filesystem::current_path(scratch);
  std::atexit(remove_scratch);
  talvex::FrameBuffer newer;
  newer.width = 37;
  newer.height = 23;
  newer.bit_count = 24;
  newer.bytes.assign(112 * 23, 0x40);
  newer.size = static_cast<std::int32_t>(newer.bytes.size());
  talvex::Settings settings;
  settings.video_device = "fuzz";
  return talvex::write_frame_file(settings, newer, 1) == 54;
}

void write_file(const char* name, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(name, "wb");
  if (!f) std::abort();
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = enter_scratch();
  if (!ready) std::abort();

  talvex::MaskPicture picture;
  picture.width = 1;
  const bool read = talvex::read_mask_bytes(data, size, picture);
  if (!read) {
    if (picture.width != 1 || !picture.weights.empty()) std::abort();
  } else {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.weights.size() != static_cast<std::size_t>(picture.width) * picture.height) {
      std::abort();
    }
    bool any = false;
    for (std::uint8_t w : picture.weights) any = any || w != 0;
    if (!any) std::abort();
    talvex::ScaledMask scaled;
    for (const auto& [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{300, 2}}) {
      scaled.build(picture, w, h);
      std::int64_t total = 0;
      for (int y = 0; y < h; ++y) {
        int x = 0;
        for (auto* run = scaled.row_begin(y); run != scaled.row_end(y); ++run) {
          if (run->x0 < x || run->x1 <= run->x0 || run->x1 > w || run->weight == 0) std::abort();
          total += std::int64_t{run->weight} * (run->x1 - run->x0);
          x = run->x1;
        }
      }
      if (total != scaled.total()) std::abort();
    }
  }

  write_file(talvex::kMaskFileName, data, size);
  talvex::MaskPicture from_file;
  if (talvex::read_mask_file(talvex::kMaskFileName, from_file) != read) std::abort();
  if (read && from_file.weights != picture.weights) std::abort();

  write_file("Talvex_0.bmp", data, size);
  talvex::MaskWatch watch(nullptr);
  watch.poll(talvex::MaskWatch::Clock::now());
  talvex::Settings settings;
  settings.video_device = "fuzz";
  settings.light_filter = true;
  (void)talvex::detect_motion(settings, &watch.mask());
  return 0;
}
