#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/talvex_messages.h"
#include "capture/frame_buffer.h"
#include "capture/frame_image.h"
#include "capture/motion_kernel.h"
#include "capture/snapshot.h"
#include "tests/core/test_support.h"

// The program's allocator, counted while a test asks for it, and failing as an exhausted
// heap does while a test asks for that.
namespace {
std::atomic<bool> counting_allocations{false};
std::atomic<long> allocations{0};
std::atomic<bool> heap_exhausted{false};
}  // namespace

void* operator new(std::size_t size) {
  if (heap_exhausted) throw std::bad_alloc();
  if (counting_allocations) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
// GCC takes the replacement's free for a mismatch once it has inlined both sides.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace talvex {
namespace {

using testing::read_bytes;
using testing::write_bytes;

// A frame of the given depth whose pixel (x, y) has a known colour.
FrameBuffer pattern_frame(int width, int height, int bits) {
  FrameBuffer f;
  f.width = width;
  f.height = height;
  f.bit_count = bits;
  const int bpp = bits / 8;
  const int stride = (width * bpp + 3) & ~3;
  const int rows = std::abs(height);
  f.bytes.assign(static_cast<std::size_t>(stride) * rows, 0);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = f.bytes.data() + y * stride + x * bpp;
      const int b = (x * 7) & 0xFF, g = (y * 5) & 0xFF, r = (x + y) & 0xFF;
      if (bits == 16) {
        const int w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        p[0] = static_cast<std::uint8_t>(w);
        p[1] = static_cast<std::uint8_t>(w >> 8);
      } else {
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
        if (bits == 32) p[3] = 0xEE;
      }
    }
  }
  f.size = static_cast<std::int32_t>(f.bytes.size());
  return f;
}

// The colour load_bmp gives the pattern's stored row y (the file's own row order).
void expected_pixel(int x, int y, int bits, int out[3]) {
  int b = (x * 7) & 0xFF, g = (y * 5) & 0xFF, r = (x + y) & 0xFF;
  if (bits == 16) {
    b = (b >> 3) << 3;
    g = (g >> 3) << 3;
    r = (r >> 3) << 3;
  }
  out[0] = b;
  out[1] = g;
  out[2] = r;
}

std::uint32_t le32(const std::string& s, std::size_t at) {
  return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
         static_cast<std::uint8_t>(s[at + 2]) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

class FrameTest : public ::testing::Test {
 protected:
  FrameTest() { settings_.video_device = "Talvex Test Camera"; }
  Settings settings_;
  testing::ScratchDirectory dir_;
};

TEST_F(FrameTest, FrameFilesHaveTheExactLayout) {
  struct Case {
    int width, height, bits;
    std::size_t file_size;
  } cases[] = {
      {320, 240, 24, 230454},     {320, 240, 16, 153654}, {320, 240, 32, 307254},
      {33, -5, 24, 54 + 100 * 5}, {1, 1, 16, 58},
  };
  for (const Case& c : cases) {
    const FrameBuffer frame = pattern_frame(c.width, c.height, c.bits);
    ASSERT_EQ(write_frame_file(settings_, frame, 0), msg::kOk);
    const std::string file = read_bytes("Talvex_0.bmp");
    ASSERT_EQ(file.size(), c.file_size) << c.width << "x" << c.height << "x" << c.bits;
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(le32(file, 2), c.file_size);
    EXPECT_EQ(le32(file, 6), 0u);
    EXPECT_EQ(le32(file, 10), 54u);
    EXPECT_EQ(le32(file, 14), 40u);
    EXPECT_EQ(static_cast<std::int32_t>(le32(file, 18)), c.width);
    EXPECT_EQ(static_cast<std::int32_t>(le32(file, 22)), c.height);  // as received
    EXPECT_EQ(le32(file, 26) & 0xFFFF, 1u);
    EXPECT_EQ(le32(file, 26) >> 16, static_cast<std::uint32_t>(c.bits));
    for (std::size_t at = 30; at < 54; at += 4) EXPECT_EQ(le32(file, at), 0u) << at;
    EXPECT_EQ(std::memcmp(file.data() + 54, frame.bytes.data(), frame.bytes.size()), 0);
  }
}

TEST_F(FrameTest, FrameFileIndexAndRefusals) {
  const FrameBuffer frame = pattern_frame(8, 8, 24);
  for (int index : {1, 2, -3}) {
    std::filesystem::remove("Talvex_1.bmp");
    EXPECT_EQ(write_frame_file(settings_, frame, index), msg::kOk);
    EXPECT_TRUE(std::filesystem::exists("Talvex_1.bmp")) << index;
  }
  EXPECT_EQ(write_frame_file(settings_, FrameBuffer{}, 0), 0);  // nothing grabbed yet
  FrameBuffer palettised = frame;
  palettised.bit_count = 8;
  EXPECT_EQ(write_frame_file(settings_, palettised, 0), 0);
  {
    testing::ScopedSystemCalls sys;
    sys->write_file = [](const void* d, std::size_t n, std::FILE* f) {
      return std::fwrite(d, 1, n / 2, f);
    };
    EXPECT_EQ(write_frame_file(settings_, frame, 0), 0);  // a short file is not a frame
  }
  Settings none;
  std::filesystem::remove("Talvex_0.bmp");
  EXPECT_EQ(write_frame_file(none, frame, 0), msg::kOk);
  EXPECT_FALSE(std::filesystem::exists("Talvex_0.bmp"));
}

// A grabber that answers as scripted.
class ScriptedSource : public FrameSource {
 public:
  bool grabber = true, size_ok = true, copy_ok = true, video_info = true;
  long size = 12;
  bool has_grabber() const override { return grabber; }
  bool grabbed_size(long& s) override {
    s = size;
    return size_ok;
  }
  bool copy_grabbed(void* bytes, long& s) override {
    std::memset(bytes, 0x5A, static_cast<std::size_t>(s));
    return copy_ok;
  }
  bool grabbed_format(GrabbedFormat& f) override {
    f = GrabbedFormat{2, -2, 24};
    return video_info;
  }
};

std::vector<int> logged;
void remember(int n) { logged.push_back(n); }

TEST_F(FrameTest, GrabFrameResults) {
  struct Case {
    const char* name;
    void (*script)(ScriptedSource&, Settings&);
    int result;
    bool logs_14;
  } cases[] = {
      {"frame", [](ScriptedSource&, Settings&) {}, msg::kOk, false},
      {"no device", [](ScriptedSource&, Settings& s) { s.video_device = "<none>"; }, 0, false},
      {"no grabber", [](ScriptedSource& g, Settings&) { g.grabber = false; }, 0, false},
      {"no sample yet", [](ScriptedSource& g, Settings&) { g.size_ok = false; }, 0, true},
      {"copy refused", [](ScriptedSource& g, Settings&) { g.copy_ok = false; }, 0, true},
      {"absurd size", [](ScriptedSource& g, Settings&) { g.size = 1L << 30; }, 0, true},
      {"not video-info", [](ScriptedSource& g, Settings&) { g.video_info = false; }, 0, false},
  };
  for (const Case& c : cases) {
    ScriptedSource source;
    Settings settings;
    settings.video_device = "Cam";
    c.script(source, settings);
    FrameBuffer frame;
    logged.clear();
    EXPECT_EQ(grab_frame(settings, &source, frame, remember), c.result) << c.name;
    EXPECT_EQ(logged == std::vector<int>{14}, c.logs_14) << c.name;
    if (c.result == msg::kOk) {
      EXPECT_EQ(frame.size, 12);
      EXPECT_EQ(frame.height, -2);
      EXPECT_EQ(frame.bytes[11], 0x5A);
    }
  }
}

TEST_F(FrameTest, LoadBmpConvertsEveryDepthAndRowOrder) {
  for (int bits : {16, 24, 32}) {
    for (int height : {7, -7}) {
      const FrameBuffer frame = pattern_frame(13, height, bits);
      ASSERT_EQ(write_frame_file(settings_, frame, 0), msg::kOk);
      FrameImage image;
      ASSERT_TRUE(load_bmp(image, "Talvex_0.bmp")) << bits << " " << height;
      ASSERT_EQ(image.width(), 13);
      ASSERT_EQ(image.height(), 7);
      EXPECT_EQ(image.bits_per_pixel(), 24);
      EXPECT_EQ(image.stride(), 40);
      for (int y = 0; y < 7; ++y) {
        // A top-down file's first row is the picture's top: stored last.
        const int file_row = height < 0 ? 6 - y : y;
        for (int x = 0; x < 13; ++x) {
          int want[3];
          expected_pixel(x, file_row, bits, want);
          const std::uint8_t* p = image.row(y) + 3 * x;
          ASSERT_EQ(p[0], want[0]) << bits << " " << height << " " << x << "," << y;
          ASSERT_EQ(p[1], want[1]);
          ASSERT_EQ(p[2], want[2]);
        }
      }
    }
  }
}

// Files the program did not write: each is refused and the image keeps what it held.
TEST_F(FrameTest, LoadBmpRefusesBadFiles) {
  const FrameBuffer frame = pattern_frame(4, 4, 24);
  write_frame_file(settings_, frame, 0);
  const std::string good = read_bytes("Talvex_0.bmp");
  auto with32 = [&good](std::size_t at, std::uint32_t v) {
    std::string s = good;
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  auto with16 = [&good](std::size_t at, std::uint32_t v) {
    std::string s = good;
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
    return s;
  };
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"headers cut", good.substr(0, 40)},
      {"pixels cut", good.substr(0, good.size() - 1)},
      {"not BM", "XY" + good.substr(2)},
      {"zero height", with32(22, 0)},
      {"negative width", with32(18, 0xFFFFFFFC)},
      {"absurd width", with32(18, 1u << 30)},
      {"width x height overflows", with32(22, 0x7FFFFFFF)},
      {"most negative height", with32(22, 0x80000000)},
      {"8 bits", with16(28, 8)},
      {"1 bit", with16(28, 1)},
      {"48 bits", with16(28, 48)},
      {"compressed", with32(30, 1)},
      {"pixels past the end", with32(10, 0xFFFFFF00)},
      {"pixels before the headers", with32(10, 10)},
      {"info header too small", with32(14, 12)},
  };
  for (const Case& c : cases) {
    write_bytes("bad.bmp", c.bytes);
    FrameImage image;
    image.allocate(2, 3, 24);
    image.row(0)[0] = 99;
    EXPECT_FALSE(load_bmp(image, "bad.bmp")) << c.name;
    EXPECT_EQ(image.width(), 2) << c.name;
    EXPECT_EQ(image.row(0)[0], 99) << c.name;
  }
  FrameImage image;
  EXPECT_FALSE(load_bmp(image, "no such file.bmp"));
  EXPECT_TRUE(image.empty());
}

FrameImage uniform(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  FrameImage image;
  image.allocate(width, height, 24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.row(y)[3 * x] = b;
      image.row(y)[3 * x + 1] = g;
      image.row(y)[3 * x + 2] = r;
    }
  }
  return image;
}

TEST(Motion, DifferenceAndGrey) {
  FrameImage a = uniform(1, 1, 0, 0, 10);
  FrameImage b = uniform(1, 1, 10, 0, 0);
  FrameImage a_minus_b = a;
  subtract_clamped(a_minus_b, b);
  EXPECT_EQ(mean_gray(a_minus_b), 3.0f);  // red 10: 30 * 10 / 100
  FrameImage b_minus_a = b;
  subtract_clamped(b_minus_a, a);
  EXPECT_EQ(mean_gray(b_minus_a), 1.0f);  // blue 10: 110 / 100, truncated
  EXPECT_EQ(mean_gray(FrameImage{}), 0.0f);

  // Only the bottom-left overlap is subtracted; the rest keeps its pixels.
  FrameImage big = uniform(4, 2, 100, 100, 100);
  subtract_clamped(big, uniform(2, 1, 100, 100, 100));
  EXPECT_EQ(big.row(0)[0], 0);
  EXPECT_EQ(big.row(0)[6], 100);
  EXPECT_EQ(big.row(1)[0], 100);
  EXPECT_EQ(mean_gray(big), 75.0f);
}

// The fused measure equals subtract-then-mean bit for bit, also past 2^24 where the float
// sum starts rounding, and for frames of different sizes.
TEST(Motion, FusedMeasureIsBitExact) {
  std::mt19937 random(7);
  auto noise = [&random](int w, int h, int spread) {
    FrameImage image;
    image.allocate(w, h, 24);
    std::uniform_int_distribution<int> d(0, spread);
    for (int y = 0; y < h; ++y) {
      for (int i = 0; i < 3 * w; ++i) image.row(y)[i] = static_cast<std::uint8_t>(d(random));
    }
    return image;
  };
  struct Case {
    int wa, ha, wb, hb, spread;
  } cases[] = {{320, 240, 320, 240, 40},
               {1920, 1080, 1920, 1080, 255},
               {640, 480, 320, 240, 60},
               {100, 50, 300, 20, 255}};
  for (const Case& c : cases) {
    const FrameImage a = noise(c.wa, c.ha, c.spread), b = noise(c.wb, c.hb, c.spread);
    FrameImage d = a;
    subtract_clamped(d, b);
    // The plain definition: one float, rounded after every addition.
    float sum = 0.0f;
    for (int y = 0; y < d.height(); ++y) {
      for (int x = 0; x < d.width(); ++x) {
        const std::uint8_t* p = d.row(y) + 3 * x;
        sum = sum + static_cast<float>((11 * p[0] + 59 * p[1] + 30 * p[2]) / 100);
      }
    }
    const float reference = static_cast<float>(static_cast<double>(sum) / d.width() / d.height());
    EXPECT_EQ(mean_gray(d), reference) << c.wa << "x" << c.ha;
    EXPECT_EQ(difference_mean(a, b), reference) << c.wa << "x" << c.ha;
  }
}

TEST_F(FrameTest, DetectMotionCases) {
  // Frame pairs as files: "older" is Talvex_0.bmp, "newer" Talvex_1.bmp.
  auto frame_of = [](int bits, int level) {
    FrameBuffer f = pattern_frame(40, 30, bits);
    for (std::size_t i = 0; i < f.bytes.size(); ++i) {
      if (bits == 16) {
        // every 5-bit channel at `level`
        const int w = (level << 10) | (level << 5) | level;
        f.bytes[i] = static_cast<std::uint8_t>(i % 2 ? w >> 8 : w);
      } else {
        f.bytes[i] = static_cast<std::uint8_t>(level);
      }
    }
    return f;
  };
  struct Case {
    const char* name;
    int bits, older, newer;
    float threshold;
    bool motion;
  } cases[] = {
      {"identical", 24, 120, 120, 7.5f, false},
      {"lowered by 10", 24, 120, 110, 7.5f, true},
      {"lowered by 10, threshold 10", 24, 120, 110, 10.0f, false},
      {"raised by 10 (brighter)", 24, 110, 120, 7.5f, true},
      {"16-bit step of 8", 16, 11, 10, 7.5f, true},
      {"16-bit step of 8, threshold 8", 16, 11, 10, 8.0f, false},
      {"32-bit lowered by 10", 32, 120, 110, 9.9f, true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(write_frame_file(settings_, frame_of(c.bits, c.older), 0), msg::kOk);
    ASSERT_EQ(write_frame_file(settings_, frame_of(c.bits, c.newer), 1), msg::kOk);
    settings_.motion_threshold = c.threshold;
    EXPECT_EQ(detect_motion(settings_), c.motion) << c.name;
  }
  // A missing older frame: the newer frame's plain grey is measured.
  std::filesystem::remove("Talvex_0.bmp");
  settings_.motion_threshold = 7.5f;
  EXPECT_TRUE(detect_motion(settings_));
  Settings none;
  std::filesystem::remove("Talvex_1.bmp");
  EXPECT_TRUE(detect_motion(none));  // no device: always, without reading
}

// The row kernels (vector code where the machine has it) against the plain formula, for
// every tail length.
TEST(Motion, RowKernelsMatchThePlainFormula) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int width = 1; width <= 37; ++width) {
    std::vector<std::uint8_t> a(static_cast<std::size_t>(width) * 4), b(a.size());
    for (auto& v : a) v = static_cast<std::uint8_t>(byte(random));
    for (auto& v : b) v = static_cast<std::uint8_t>(byte(random));
    std::int64_t darker = 0, brighter = 0;
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &a[4 * x];
      const std::uint8_t* q = &b[4 * x];
      darker += gray_of(clamped(p[0], q[0]), clamped(p[1], q[1]), clamped(p[2], q[2]));
      brighter += gray_of(clamped(q[0], p[0]), clamped(q[1], p[1]), clamped(q[2], p[2]));
    }
    const RowSums sums = row_sums_32(a.data(), b.data(), width);
    EXPECT_EQ(sums.darker, darker) << width;
    EXPECT_EQ(sums.brighter, brighter) << width;
  }
}

// detect_motion's direct path decides exactly as the images would: a threshold equal to
// the larger measure is no motion, the float just below it is.
TEST_F(FrameTest, DirectMeasureDecidesExactlyAsTheImages) {
  std::mt19937 random(5);
  struct Case {
    int width, height, bits, spread;
  } cases[] = {{320, 240, 32, 30}, {320, -240, 32, 30},  {321, 17, 24, 60},
               {64, 48, 16, 255},  {1920, 1080, 32, 30}, {1920, 1080, 32, 255}};
  for (const Case& c : cases) {
    FrameBuffer older = pattern_frame(c.width, c.height, c.bits);
    FrameBuffer newer = older;
    std::uniform_int_distribution<int> noise(-c.spread, c.spread);
    for (auto& v : newer.bytes)
      v = static_cast<std::uint8_t>(std::clamp(v + noise(random), 0, 255));
    ASSERT_EQ(write_frame_file(settings_, older, 0), msg::kOk);
    ASSERT_EQ(write_frame_file(settings_, newer, 1), msg::kOk);
    FrameImage a, b;
    ASSERT_TRUE(load_bmp(a, "Talvex_0.bmp"));
    ASSERT_TRUE(load_bmp(b, "Talvex_1.bmp"));
    const float largest = std::max(difference_mean(a, b), difference_mean(b, a));
    settings_.motion_threshold = largest;
    EXPECT_FALSE(detect_motion(settings_)) << c.width << "x" << c.height << "x" << c.bits;
    settings_.motion_threshold = std::nextafter(largest, 0.0f);
    EXPECT_TRUE(detect_motion(settings_)) << c.width << "x" << c.height << "x" << c.bits;
  }
}

TEST(Snapshot, CropTakesThePicturesTopLeft) {
  FrameImage source;
  source.allocate(320, 240, 24);
  // Stored row y is the picture's row 239 - y; mark the picture's top-left pixel.
  source.row(239)[0] = 200;
  source.row(0)[0] = 100;  // bottom-left: outside the crop
  FrameImage crop;
  ASSERT_TRUE(crop_region(source, 0, 0, 240, 180, crop));
  EXPECT_EQ(crop.width(), 240);
  EXPECT_EQ(crop.height(), 180);
  EXPECT_EQ(crop.row(179)[0], 200);
  EXPECT_EQ(crop.quality, 75);
  EXPECT_EQ(crop.dpi, 72);
  struct Case {
    int w, h, cw, ch;
  } cases[] = {{160, 120, 160, 120}, {640, 480, 240, 180}, {200, 300, 200, 180}};
  for (const Case& c : cases) {
    FrameImage s, d;
    s.allocate(c.w, c.h, 24);
    ASSERT_TRUE(crop_region(s, 0, 0, 240, 180, d));
    EXPECT_EQ(d.width(), c.cw);
    EXPECT_EQ(d.height(), c.ch);
  }
  FrameImage untouched;
  EXPECT_FALSE(crop_region(FrameImage{}, 0, 0, 240, 180, untouched));
  EXPECT_FALSE(crop_region(source, 10, 0, 10, 180, untouched));  // no width
  EXPECT_TRUE(untouched.empty());
}

// The SOF0 size and JFIF density of a JPEG file, read from its markers.
struct JpegFacts {
  int width = 0, height = 0, density_unit = -1, x_density = 0, y_density = 0;
  bool baseline = false;
};
JpegFacts jpeg_facts(const std::string& j) {
  JpegFacts f;
  auto u16 = [&j](std::size_t at) {
    return (static_cast<std::uint8_t>(j[at]) << 8) | static_cast<std::uint8_t>(j[at + 1]);
  };
  for (std::size_t at = 2; at + 4 < j.size();) {
    if (static_cast<std::uint8_t>(j[at]) != 0xFF) break;
    const int marker = static_cast<std::uint8_t>(j[at + 1]);
    const std::size_t length = u16(at + 2);
    if (marker == 0xE0 && j.compare(at + 4, 5, std::string("JFIF\0", 5)) == 0) {
      f.density_unit = static_cast<std::uint8_t>(j[at + 11]);
      f.x_density = u16(at + 12);
      f.y_density = u16(at + 14);
    } else if (marker == 0xC0) {
      f.baseline = true;
      f.height = u16(at + 5);
      f.width = u16(at + 7);
    } else if (marker == 0xDA) {
      break;
    }
    at += 2 + length;
  }
  return f;
}

TEST_F(FrameTest, SnapshotSizesAndDensity) {
  struct Case {
    int w, h, jw, jh;
  } cases[] = {{320, 240, 240, 180}, {160, 120, 160, 120}, {640, 480, 240, 180}};
  for (const Case& c : cases) {
    ASSERT_EQ(write_frame_file(settings_, pattern_frame(c.w, c.h, 24), 1), msg::kOk);
    ASSERT_EQ(make_snapshot(settings_, 1), msg::kOk);
    const JpegFacts f = jpeg_facts(read_bytes("Talvex.jpg"));
    EXPECT_TRUE(f.baseline);
    EXPECT_EQ(f.width, c.jw);
    EXPECT_EQ(f.height, c.jh);
    EXPECT_EQ(f.density_unit, 1);
    EXPECT_EQ(f.x_density, 72);
    EXPECT_EQ(f.y_density, 72);
  }
}

TEST_F(FrameTest, SnapshotEdgeCases) {
  // A missing frame file: an empty snapshot, and success.
  ASSERT_EQ(make_snapshot(settings_, 0), msg::kOk);
  EXPECT_TRUE(std::filesystem::exists("Talvex.jpg"));
  EXPECT_EQ(std::filesystem::file_size("Talvex.jpg"), 0u);
  // No device: the old snapshot stays as it is.
  write_bytes("Talvex.jpg", "old");
  Settings none;
  EXPECT_EQ(make_snapshot(none, 0), msg::kOk);
  EXPECT_EQ(read_bytes("Talvex.jpg"), "old");
  // The file can't be opened.
  testing::ScopedSystemCalls sys;
  sys->open_file = [](const char*, const char*) -> std::FILE* { return nullptr; };
  EXPECT_EQ(make_snapshot(settings_, 0), 0);
}

// Every row kernel, also the narrower ones that machines without AVX2 or SSSE3 take,
// against the plain formula on the widened channels, for every tail length.
TEST(Motion, EveryRowKernelMatchesThePlainFormula) {
  std::mt19937 random(13);
  std::uniform_int_distribution<int> byte(0, 255);
  struct Kernel {
    const char* name;
    RowSums (*sums)(const std::uint8_t*, const std::uint8_t*, int);
    int bytes;
  } kernels[] = {{"sse2 32", sse2_row_sums_32, 4}, {"ssse3 32", ssse3_row_sums_32, 4},
                 {"32", row_sums_32, 4},           {"ssse3 24", ssse3_row_sums_24, 3},
                 {"24", row_sums_24, 3},           {"16", row_sums_16, 2}};
  auto channels = [](const std::uint8_t* p, int bytes, int out[3]) {
    if (bytes == 2) {
      const int w = p[0] | (p[1] << 8);
      out[0] = (w & 0x1F) << 3;
      out[1] = ((w >> 5) & 0x1F) << 3;
      out[2] = ((w >> 10) & 0x1F) << 3;
    } else {
      out[0] = p[0];
      out[1] = p[1];
      out[2] = p[2];
    }
  };
  for (const Kernel& k : kernels) {
    for (int width : {1, 2, 3, 15, 16, 17, 18, 19, 31, 32, 33, 34, 35, 37, 63, 64, 65, 66, 1921}) {
      std::vector<std::uint8_t> a(static_cast<std::size_t>(width) * k.bytes), b(a.size());
      for (auto& v : a) v = static_cast<std::uint8_t>(byte(random));
      for (auto& v : b) v = static_cast<std::uint8_t>(byte(random));
      std::int64_t darker = 0, brighter = 0;
      for (int x = 0; x < width; ++x) {
        int p[3], q[3];
        channels(&a[static_cast<std::size_t>(x) * k.bytes], k.bytes, p);
        channels(&b[static_cast<std::size_t>(x) * k.bytes], k.bytes, q);
        darker += gray_of(clamped(p[0], q[0]), clamped(p[1], q[1]), clamped(p[2], q[2]));
        brighter += gray_of(clamped(q[0], p[0]), clamped(q[1], p[1]), clamped(q[2], p[2]));
      }
      // Exact-size buffers: a kernel that reads past the row trips the sanitizer.
      const RowSums sums = k.sums(a.data(), b.data(), width);
      EXPECT_EQ(sums.darker, darker) << k.name << " " << width;
      EXPECT_EQ(sums.brighter, brighter) << k.name << " " << width;
    }
  }
}

// The measure made while the files are read decides as the loaded images do, also where
// the float sum rounds (past 2^24), for top-down files, every depth, and files of
// different layouts or one cut short.
TEST_F(FrameTest, StreamedMeasureDecidesExactlyAsTheImages) {
  std::mt19937 random(17);
  struct Case {
    int width, height, bits, spread;
    int newer_width, newer_height, newer_bits;
  } cases[] = {
      {1280, -720, 32, 255, 1280, -720, 32}, {1280, 720, 24, 255, 1280, 720, 24},
      {1280, -720, 24, 200, 1280, -720, 24}, {640, 480, 16, 255, 640, 480, 16},
      {333, 7, 24, 255, 333, 7, 24},         {640, 480, 32, 60, 320, 240, 32},
      {320, 240, 24, 40, 320, 240, 32},      {320, 240, 32, 40, 320, -240, 32},
  };
  auto noisy = [&random](int width, int height, int bits, int spread) {
    FrameBuffer f = pattern_frame(width, height, bits);
    std::uniform_int_distribution<int> noise(-spread, spread);
    for (auto& v : f.bytes) v = static_cast<std::uint8_t>(std::clamp(v + noise(random), 0, 255));
    return f;
  };
  auto decides_as_images = [this](const std::string& name) {
    FrameImage a, b;
    load_bmp(a, "Talvex_0.bmp");  // a refused file leaves the image empty
    load_bmp(b, "Talvex_1.bmp");
    const float largest = std::max(difference_mean(a, b), difference_mean(b, a));
    settings_.motion_threshold = largest;
    EXPECT_FALSE(detect_motion(settings_)) << name;
    settings_.motion_threshold = std::nextafter(largest, 0.0f);
    EXPECT_TRUE(detect_motion(settings_)) << name;
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                             std::to_string(c.bits) + " against " + std::to_string(c.newer_width) +
                             "x" + std::to_string(c.newer_height) + "x" +
                             std::to_string(c.newer_bits);
    ASSERT_EQ(write_frame_file(settings_, noisy(c.width, c.height, c.bits, c.spread), 0), msg::kOk);
    ASSERT_EQ(write_frame_file(settings_,
                               noisy(c.newer_width, c.newer_height, c.newer_bits, c.spread), 1),
              msg::kOk);
    decides_as_images(name);
  }
  // The newer file cut short: measured as a missing file, the older frame's plain grey.
  std::filesystem::resize_file("Talvex_1.bmp", 1000);
  decides_as_images("newer cut short");
}

// A large stale frame file (left by a crash, or put there by hand) is refused unread: the
// pipeline's functions treat it as a missing file and rewrite it, and nothing is sized
// from it. Sparse files, so the disk gives nothing.
TEST_F(FrameTest, OversizedFrameFilesAreRefusedUnread) {
  const FrameBuffer frame = pattern_frame(320, 240, 32);
  struct Case {
    const char* name;
    std::uintmax_t size;
  } cases[] = {
      {"over the largest frame file", std::uintmax_t{kLargestFrameFile} + 1},
      {"over 2^32 bytes", (std::uintmax_t{1} << 32) + 54},
      {"over a terabyte", (std::uintmax_t{1} << 40) + 54},
  };
  for (const Case& c : cases) {
    // A real frame file's headers and pixels, then a hole up to the size.
    ASSERT_EQ(write_frame_file(settings_, frame, 0), msg::kOk);
    std::error_code error;
    std::filesystem::resize_file("Talvex_0.bmp", c.size, error);
    if (error) {
      // Wine's files stop short of a terabyte; the smaller cases still run there.
      ASSERT_GT(c.size, std::uintmax_t{1} << 33) << c.name << ": " << error.message();
      continue;
    }
    FrameImage image;
    image.allocate(2, 3, 24);
    EXPECT_FALSE(load_bmp(image, "Talvex_0.bmp")) << c.name;
    EXPECT_EQ(image.width(), 2) << c.name;

    // As a missing older file: the newer frame's plain grey decides.
    FrameBuffer grey = frame;
    std::fill(grey.bytes.begin(), grey.bytes.end(), std::uint8_t{20});
    ASSERT_EQ(write_frame_file(settings_, grey, 1), msg::kOk);
    settings_.motion_threshold = 19.5f;
    EXPECT_TRUE(detect_motion(settings_)) << c.name;
    settings_.motion_threshold = 20.0f;
    EXPECT_FALSE(detect_motion(settings_)) << c.name;

    write_bytes("Talvex.jpg", "old snapshot");
    EXPECT_EQ(make_snapshot(settings_, 0), msg::kOk) << c.name;
    EXPECT_EQ(std::filesystem::file_size("Talvex.jpg"), 0u) << c.name;

    // The next write replaces it with an exact frame file.
    ASSERT_EQ(write_frame_file(settings_, frame, 0), msg::kOk) << c.name;
    EXPECT_EQ(std::filesystem::file_size("Talvex_0.bmp"), 54u + frame.bytes.size()) << c.name;
  }
}

// Rewritten in place, a frame file or snapshot holds exactly what a new file would: the
// frame's bytes, and the JPEG of the loaded picture's crop, whatever the file held before.
TEST_F(FrameTest, RewrittenFilesHoldExactlyTheNewBytes) {
  struct Case {
    int width, height, bits;
  } cases[] = {{640, 480, 32}, {640, 480, 32}, {320, -240, 24}, {160, 120, 16},
               {239, 181, 24}, {1, 1, 32},     {320, 240, 24},  {320, 240, 24}};
  std::mt19937 random(19);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const Case& c : cases) {
    const std::string name =
        std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.bits);
    FrameBuffer frame = pattern_frame(c.width, c.height, c.bits);
    for (auto& v : frame.bytes) v = static_cast<std::uint8_t>(v ^ byte(random));
    ASSERT_EQ(write_frame_file(settings_, frame, 1), msg::kOk) << name;
    const std::string file = read_bytes("Talvex_1.bmp");
    ASSERT_EQ(file.size(), 54 + frame.bytes.size()) << name;
    const std::vector<std::uint8_t> headers =
        bmp_headers(frame.width, frame.height, frame.bit_count, frame.size);
    EXPECT_EQ(file.compare(0, 54, std::string(headers.begin(), headers.end())), 0) << name;
    EXPECT_EQ(std::memcmp(file.data() + 54, frame.bytes.data(), frame.bytes.size()), 0) << name;

    ASSERT_EQ(make_snapshot(settings_, 1), msg::kOk) << name;
    FrameImage loaded, crop;
    ASSERT_TRUE(load_bmp(loaded, "Talvex_1.bmp")) << name;
    ASSERT_TRUE(crop_region(loaded, 0, 0, 240, 180, crop)) << name;
    std::FILE* reference = std::fopen("reference.jpg", "w+b");
    ASSERT_NE(reference, nullptr);
    EXPECT_TRUE(encode_jpeg(crop, reference));
    std::fclose(reference);
    EXPECT_EQ(read_bytes("Talvex.jpg"), read_bytes("reference.jpg")) << name;
  }
  // A frame file gone: the snapshot that was there is emptied.
  std::filesystem::remove("Talvex_1.bmp");
  ASSERT_EQ(make_snapshot(settings_, 1), msg::kOk);
  EXPECT_EQ(std::filesystem::file_size("Talvex.jpg"), 0u);
}

// A grabber that hands out a fixed frame.
class FixedSource : public FrameSource {
 public:
  explicit FixedSource(const FrameBuffer& frame) : frame_(frame) {}
  bool has_grabber() const override { return true; }
  bool grabbed_size(long& size) override {
    size = static_cast<long>(frame_.bytes.size());
    return true;
  }
  bool copy_grabbed(void* bytes, long& size) override {
    std::memcpy(bytes, frame_.bytes.data(), static_cast<std::size_t>(size));
    return true;
  }
  bool grabbed_format(GrabbedFormat& format) override {
    format = GrabbedFormat{frame_.width, frame_.height, frame_.bit_count};
    return true;
  }

 private:
  const FrameBuffer& frame_;
};

// Working passes at a steady frame size allocate nothing: grab copy, frame file, snapshot
// and motion reuse what the first passes allocated.
TEST_F(FrameTest, SteadyPassesAllocateNothing) {
  struct Case {
    int width, height, bits;
    float threshold;
  } cases[] = {{320, 240, 32, 7.5f}, {640, -480, 24, 1000.0f}, {1280, 720, 32, 1000.0f}};
  for (const Case& c : cases) {
    const FrameBuffer older = pattern_frame(c.width, c.height, c.bits);
    FrameBuffer newer = older;
    for (std::size_t i = 0; i < newer.bytes.size(); i += 7) newer.bytes[i] = 0;
    FixedSource older_source(older), newer_source(newer);
    FrameBuffer frame;
    settings_.motion_threshold = c.threshold;
    auto pass_pair = [&] {
      bool ok = grab_frame(settings_, &older_source, frame, nullptr) == msg::kOk &&
                write_frame_file(settings_, frame, 0) == msg::kOk &&
                make_snapshot(settings_, 0) == msg::kOk;
      ok = grab_frame(settings_, &newer_source, frame, nullptr) == msg::kOk &&
           write_frame_file(settings_, frame, 1) == msg::kOk &&
           make_snapshot(settings_, 1) == msg::kOk && ok;
      detect_motion(settings_);
      return ok;
    };
    ASSERT_TRUE(pass_pair());  // the first passes create the files and the buffers
    allocations = 0;
    counting_allocations = true;
    bool ok = true;
    for (int i = 0; i < 3; ++i) ok = pass_pair() && ok;
    counting_allocations = false;
    EXPECT_TRUE(ok);
    EXPECT_EQ(allocations, 0) << c.width << "x" << c.height << "x" << c.bits;
  }
}

// With the heap exhausted, each function of the pipeline gives the failure the loop logs
// (or no motion), never an exception. On a thread of its own, which has no buffers yet, and
// with a frame larger than any before, each of them needs memory.
TEST_F(FrameTest, AnExhaustedHeapIsAFailureNotAnException) {
  const FrameBuffer large = pattern_frame(2000, 1500, 32);
  FixedSource source(large);
  ASSERT_EQ(write_frame_file(settings_, large, 0), msg::kOk);
  ASSERT_EQ(write_frame_file(settings_, pattern_frame(1000, 1500, 32), 1), msg::kOk);
  write_bytes("Talvex.jpg", "old snapshot");
  FrameBuffer frame;
  FrameImage image, crop, small;
  small.allocate(300, 200, 24);
  int grab = -1, snapshot = -1;
  bool motion = true, loaded = true, cropped = true;
  std::thread capture([&] {
    heap_exhausted = true;
    grab = grab_frame(settings_, &source, frame, nullptr);
    snapshot = make_snapshot(settings_, 0);
    motion = detect_motion(settings_);  // files of different layouts: the images are loaded
    loaded = load_bmp(image, "Talvex_0.bmp");
    cropped = crop_region(small, 0, 0, 240, 180, crop);
    heap_exhausted = false;
  });
  capture.join();
  EXPECT_EQ(grab, 0);      // logged as 15 by the loop
  EXPECT_EQ(snapshot, 0);  // logged as 17
  EXPECT_EQ(std::filesystem::file_size("Talvex.jpg"), 0u);
  EXPECT_FALSE(motion);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(image.empty());
  EXPECT_FALSE(cropped);
  EXPECT_TRUE(crop.empty());
  // And with memory again the pipeline works as before.
  EXPECT_EQ(grab_frame(settings_, &source, frame, nullptr), msg::kOk);
  EXPECT_EQ(write_frame_file(settings_, frame, 0), msg::kOk);
  EXPECT_EQ(make_snapshot(settings_, 0), msg::kOk);
  EXPECT_GT(std::filesystem::file_size("Talvex.jpg"), 0u);
}

}  // namespace
}  // namespace talvex
