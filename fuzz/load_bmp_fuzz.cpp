// Any bytes as a frame file: load_bmp_bytes either refuses them, leaving the image as it
// was, or gives a 24-bit image within the limits whose every row can be read; and the
// motion measure and the crop run on whatever it gave. The same bytes as the frame file on
// disk: the file reader decides and loads exactly as the in-memory parser, the snapshot
// read from the file's rows is the JPEG of the loaded picture's crop, and the motion
// measure made while reading runs on it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <unistd.h>

#include "capture/frame_buffer.h"
#include "capture/frame_image.h"
#include "capture/snapshot.h"

namespace {

std::filesystem::path scratch;

void remove_scratch() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(scratch, ignored);
}

// A scratch folder, current while the target runs, holding a newer frame to compare with.
bool enter_scratch() {
  scratch = std::filesystem::temp_directory_path() /
            ("talvex_load_bmp_fuzz_" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  std::filesystem::current_path(scratch);
  std::atexit(remove_scratch);
  talvex::FrameBuffer newer;
  newer.width = 37;
  newer.height = 23;
  newer.bit_count = 32;
  newer.bytes.assign(37 * 23 * 4, 0x40);
  newer.size = static_cast<std::int32_t>(newer.bytes.size());
  talvex::Settings settings;
  settings.video_device = "fuzz";
  return talvex::write_frame_file(settings, newer, 1) == 54;
}

std::string read_all(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool same_pixels(const talvex::FrameImage& a, const talvex::FrameImage& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    if (std::memcmp(a.row(y), b.row(y), static_cast<std::size_t>(a.width()) * 3) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = enter_scratch();
  if (!ready) std::abort();

  talvex::FrameImage image;
  image.allocate(1, 1, 24);
  const bool loaded = talvex::load_bmp_bytes(image, data, size);
  if (!loaded) {
    if (image.width() != 1 || image.height() != 1) std::abort();
  } else {
    if (image.bits_per_pixel() != 24 || image.width() <= 0 || image.height() <= 0 ||
        image.width() > talvex::kLargestSide || image.height() > talvex::kLargestSide) {
      std::abort();
    }
    volatile std::uint8_t sink = 0;
    for (int y = 0; y < image.height(); ++y) sink = sink + image.row(y)[image.width() * 3 - 1];
    talvex::FrameImage other;
    other.allocate(3, 2, 24);
    (void)talvex::difference_mean(image, other);
    (void)talvex::difference_mean(other, image);
    talvex::FrameImage crop;
    (void)talvex::crop_region(image, 0, 0, 240, 180, crop);
  }

  {
    std::FILE* f = std::fopen("Talvex_0.bmp", "wb");
    if (!f) std::abort();
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  talvex::FrameImage from_file;
  from_file.allocate(1, 1, 24);
  if (talvex::load_bmp(from_file, "Talvex_0.bmp") != loaded) std::abort();
  if (loaded && !same_pixels(image, from_file)) std::abort();
  if (!loaded && (from_file.width() != 1 || from_file.height() != 1)) std::abort();

  talvex::Settings settings;
  settings.video_device = "fuzz";
  settings.motion_threshold = 7.5f;
  (void)talvex::detect_motion(settings);
  if (talvex::make_snapshot(settings, 0) != 54) std::abort();
  std::string expected;
  talvex::FrameImage crop;
  if (loaded && talvex::crop_region(image, 0, 0, 240, 180, crop)) {
    std::FILE* f = std::fopen("reference.jpg", "w+b");
    if (!f) std::abort();
    talvex::encode_jpeg(crop, f);
    std::fclose(f);
    expected = read_all("reference.jpg");
  }
  if (read_all("Talvex.jpg") != expected) std::abort();
  return 0;
}
