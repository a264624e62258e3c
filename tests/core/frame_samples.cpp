// Writes sample frame files and a snapshot into the current folder, for the check with an
// independent reader (tests/core/check_frames.py): frame_16.bmp, frame_24.bmp,
// frame_32.bmp, frame_top_down.bmp and Talvex.jpg from a 320 x 240 frame. Pixel (x, y)
// of the picture, y counted from the top, is blue 7x, green 5y, red x + y (mod 256).
#include <cstdio>
#include <filesystem>

#include "capture/frame_buffer.h"
#include "capture/snapshot.h"

namespace {

talvex::FrameBuffer picture(int width, int height, int bits, bool top_down) {
  talvex::FrameBuffer f;
  f.width = width;
  f.height = top_down ? -height : height;
  f.bit_count = bits;
  const int bpp = bits / 8;
  const int stride = (width * bpp + 3) & ~3;
  f.bytes.assign(static_cast<std::size_t>(stride) * height, 0);
  for (int row = 0; row < height; ++row) {
    const int y = top_down ? row : height - 1 - row;  // the picture's row
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = f.bytes.data() + row * stride + x * bpp;
      const int b = (x * 7) & 0xFF, g = (y * 5) & 0xFF, r = (x + y) & 0xFF;
      if (bits == 16) {
        const int w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        p[0] = static_cast<std::uint8_t>(w);
        p[1] = static_cast<std::uint8_t>(w >> 8);
      } else {
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
      }
    }
  }
  f.size = static_cast<std::int32_t>(f.bytes.size());
  return f;
}

bool write_as(const talvex::Settings& s, const talvex::FrameBuffer& f, const char* name) {
  if (talvex::write_frame_file(s, f, 0) != 54) return false;
  std::filesystem::rename("Talvex_0.bmp", name);
  return true;
}

}  // namespace

int main() {
  talvex::Settings settings;
  settings.video_device = "Talvex Test Camera";
  bool ok = write_as(settings, picture(320, 240, 16, false), "frame_16.bmp") &&
            write_as(settings, picture(320, 240, 24, false), "frame_24.bmp") &&
            write_as(settings, picture(320, 240, 32, false), "frame_32.bmp") &&
            write_as(settings, picture(320, 240, 24, true), "frame_top_down.bmp");
  ok = ok && talvex::write_frame_file(settings, picture(320, 240, 24, false), 1) == 54 &&
       talvex::make_snapshot(settings, 1) == 54;
  if (!ok) std::fprintf(stderr, "could not write the samples\n");
  return ok ? 0 : 1;
}
