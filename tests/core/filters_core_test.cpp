// The portable part of the filters: the test scene's schedule, frame conversion, the BMP
// frame reader, the camera settings from the environment, and the JPEG encoder (checked by
// decoding its output with libjpeg).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "codec/mjpeg_encoder.h"
#include "dshow/frame_format.h"
#include "filters/bmp_frame.h"
#include "filters/camera_config.h"
#include "filters/rgb_image.h"
#include "filters/test_scene.h"

namespace talvex::filters {
namespace {

using codec::encode_frame;
using codec::kMjpegQuality;
using codec::max_jpeg_size;

constexpr StreamTime kMs = kUnitsPerSecond / 1000;

double mean_abs_difference(const Rgb24Image& a, const Rgb24Image& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.bgr.size(); ++i) sum += std::abs(a.bgr[i] - b.bgr[i]);
  return sum / a.bgr.size();
}

// Leftmost column holding the object's colour on the middle row, or -1.
int object_left(const Rgb24Image& image) {
  const std::uint8_t* row = image.row(image.height / 2);
  for (int x = 0; x < image.width; ++x) {
    if (row[3 * x] == 64 && row[3 * x + 1] == 240 && row[3 * x + 2] == 255) return x;
  }
  return -1;
}

TEST(TestScene, ObjectCrossesForTwoSecondsOfEveryTen) {
  const struct {
    StreamTime t;
    bool visible;
  } cases[] = {
      {0, false},
      {1999 * kMs, false},
      {2000 * kMs, true},
      {3999 * kMs, true},
      {4000 * kMs, false},
      {9999 * kMs, false},
      {12000 * kMs, true},
      {14000 * kMs, false},
      {-8000 * kMs, true},
      {-1 * kMs, false},
      {(3600LL * 1000 + 2500) * kMs, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(object_visible(c.t), c.visible) << "at " << c.t / kMs << " ms";
    const Rgb24Image moving = render_scene(SceneKind::kMoving, c.t, 64, 48);
    const Rgb24Image still = render_scene(SceneKind::kStill, c.t, 64, 48);
    EXPECT_EQ(moving.bgr != still.bgr, c.visible) << "at " << c.t / kMs << " ms";
  }
}

TEST(TestScene, StillSceneNeverChangesAndMovingObjectTravelsLeftToRight) {
  const Rgb24Image still = render_scene(SceneKind::kStill, 0, 320, 240);
  int previous_left = -1000;
  for (StreamTime t = 2000 * kMs; t < 4000 * kMs; t += 250 * kMs) {
    EXPECT_EQ(render_scene(SceneKind::kStill, t, 320, 240).bgr, still.bgr);
    const Rgb24Image frame = render_scene(SceneKind::kMoving, t, 320, 240);
    const int left = object_left(frame);
    if (left > 0) {
      EXPECT_GT(left, previous_left) << "at " << t / kMs << " ms";
      previous_left = left;
    }
    // Two passes of the capture loop apart, the pictures differ clearly while it crosses.
    const Rgb24Image later = render_scene(SceneKind::kMoving, t + 250 * kMs, 320, 240);
    if (object_visible(t + 250 * kMs)) {
      EXPECT_GT(mean_abs_difference(frame, later), 5.0) << "at " << t / kMs << " ms";
    }
  }
  EXPECT_GT(previous_left, 160);
  // Deterministic: the same time gives the same picture.
  EXPECT_EQ(render_scene(SceneKind::kMoving, 2600 * kMs, 320, 240).bgr,
            render_scene(SceneKind::kMoving, 2600 * kMs, 320, 240).bgr);
}

TEST(FrameFormat, RowsArePaddedAndPixelsConvertToEachFormat) {
  EXPECT_EQ(row_stride(30, PixelFormat::kRgb24), 92u);
  EXPECT_EQ(row_stride(30, PixelFormat::kRgb32), 120u);
  EXPECT_EQ(row_stride(31, PixelFormat::kRgb555), 64u);
  EXPECT_EQ(frame_size(320, 240, PixelFormat::kRgb24), 230400u);

  Rgb24Image image;
  image.width = 2;
  image.height = 2;
  // bottom row: (b,g,r) = (8,16,248), (255,0,0); top row: (1,2,3), (0,0,0)
  image.bgr = {8, 16, 248, 255, 0, 0, 1, 2, 3, 0, 0, 0};
  std::vector<std::uint8_t> frame(frame_size(2, 2, PixelFormat::kRgb32));
  convert_to_frame(image, 2, 2, PixelFormat::kRgb32, frame.data());
  EXPECT_EQ(frame,
            (std::vector<std::uint8_t>{8, 16, 248, 0, 255, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0}));
  frame.assign(frame_size(2, 2, PixelFormat::kRgb555), 0xEE);
  convert_to_frame(image, 2, 2, PixelFormat::kRgb555, frame.data());
  // 5-5-5 words: b=1,g=2,r=31 -> 0x7C41; b=31 -> 0x001F.
  EXPECT_EQ(frame, (std::vector<std::uint8_t>{0x41, 0x7C, 0x1F, 0x00, 0, 0, 0, 0}));

  // A larger frame is padded with black, the picture anchored at its top-left corner.
  frame.assign(frame_size(3, 3, PixelFormat::kRgb24), 0xEE);
  convert_to_frame(image, 3, 3, PixelFormat::kRgb24, frame.data());
  const std::vector<std::uint8_t> top_row(frame.begin() + 2 * 12, frame.begin() + 2 * 12 + 9);
  EXPECT_EQ(top_row, (std::vector<std::uint8_t>{1, 2, 3, 0, 0, 0, 0, 0, 0}));
  const std::vector<std::uint8_t> bottom_row(frame.begin(), frame.begin() + 12);
  EXPECT_EQ(bottom_row, std::vector<std::uint8_t>(12, 0));
}

std::vector<std::uint8_t> bmp_bytes(int width, int height, int bits = 24, int header = 40,
                                    int compression = 0) {
  const int rows = height < 0 ? -height : height;
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  std::vector<std::uint8_t> bytes(14 + header + stride * rows, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, 14 + header);
  put32(14, header);
  put32(18, width);
  put32(22, static_cast<std::uint32_t>(height));
  bytes[26] = 1;
  bytes[28] = static_cast<std::uint8_t>(bits);
  put32(30, compression);
  for (std::size_t i = 14 + header; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(BmpFrame, ReadsBottomUpAndTopDownPicturesWithoutTheirRowPadding) {
  const auto bottom_up = bmp_bytes(3, 2);  // rows of 9 bytes padded to 12
  const auto image = parse_bmp24(bottom_up.data(), bottom_up.size());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 3);
  EXPECT_EQ(image->height, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(image->bgr.begin(), image->bgr.begin() + 9),
            std::vector<std::uint8_t>(bottom_up.begin() + 54, bottom_up.begin() + 63));
  EXPECT_EQ(std::vector<std::uint8_t>(image->bgr.begin() + 9, image->bgr.end()),
            std::vector<std::uint8_t>(bottom_up.begin() + 66, bottom_up.begin() + 75));

  auto top_down = bmp_bytes(3, -2);
  const auto flipped = parse_bmp24(top_down.data(), top_down.size());
  ASSERT_TRUE(flipped);
  EXPECT_EQ(flipped->height, 2);
  // The first stored row is the top one, so it becomes the last row bottom-up.
  EXPECT_EQ(std::vector<std::uint8_t>(flipped->bgr.begin() + 9, flipped->bgr.end()),
            std::vector<std::uint8_t>(top_down.begin() + 54, top_down.begin() + 63));

  const auto v5 = bmp_bytes(4, 4, 24, 124);
  EXPECT_TRUE(parse_bmp24(v5.data(), v5.size()));
  // The last row's padding may be missing.
  auto unpadded = bmp_bytes(3, 2);
  unpadded.resize(unpadded.size() - 3);
  EXPECT_TRUE(parse_bmp24(unpadded.data(), unpadded.size()));
}

TEST(BmpFrame, RefusesWhatIsNotAValid24BitBitmap) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  auto header_only = bmp_bytes(2, 2);
  header_only.resize(40);
  cases.push_back({"header only", header_only});
  auto magic = bmp_bytes(2, 2);
  magic[0] = 'X';
  cases.push_back({"wrong magic", magic});
  cases.push_back({"32 bits", bmp_bytes(2, 2, 32)});
  cases.push_back({"8 bits", bmp_bytes(2, 2, 8)});
  cases.push_back({"compressed", bmp_bytes(2, 2, 24, 40, 1)});
  cases.push_back({"zero width", bmp_bytes(0, 2)});
  cases.push_back({"zero height", bmp_bytes(2, 0)});
  auto truncated = bmp_bytes(4, 4);
  truncated.resize(truncated.size() - 13);
  cases.push_back({"truncated pixels", truncated});
  auto huge = bmp_bytes(2, 2);
  huge[21] = 0x7F;  // width 0x7F000002
  cases.push_back({"huge width", huge});
  auto tall = bmp_bytes(2, 2);
  tall[25] = 0x80;  // height INT_MIN + 2
  cases.push_back({"most negative height", tall});
  auto offset = bmp_bytes(2, 2);
  offset[13] = 0x10;  // pixels far beyond the end
  cases.push_back({"pixel offset past the end", offset});
  auto header = bmp_bytes(2, 2);
  header[17] = 0x10;  // info header larger than the file
  cases.push_back({"header larger than the file", header});
  auto inside = bmp_bytes(2, 2);
  inside[10] = 20;  // pixels inside the headers
  cases.push_back({"pixels inside the header", inside});
  for (const Case& c : cases) {
    EXPECT_FALSE(parse_bmp24(c.bytes.data(), c.bytes.size())) << c.name;
  }
  EXPECT_FALSE(parse_bmp24(nullptr, 100));
}

TEST(CameraConfig, SizeAndRateComeFromTheEnvironmentTextsOrKeepTheirDefaults) {
  const struct {
    const char* size;
    const char* fps;
    int width, height, rate;
  } cases[] = {
      {nullptr, nullptr, 320, 240, 15},
      {"1920x1080", "30", 1920, 1080, 30},
      {"64X48", "1", 64, 48, 1},
      {"4096x4096", "120", 4096, 4096, 120},
      {"0x10", "0", 320, 240, 15},
      {"4097x10", "121", 320, 240, 15},
      {"10x", "abc", 320, 240, 15},
      {"x10", "30fps", 320, 240, 15},
      {"12a", "", 320, 240, 15},
      {"", "-5", 320, 240, 15},
      {"123456x1", "+7", 320, 240, 15},
      {"640x480 ", " 25", 320, 240, 15},
      {"-640x480", "99999999", 320, 240, 15},
  };
  for (const auto& c : cases) {
    const CameraConfig config = camera_config(c.size, c.fps);
    const std::string name =
        std::string(c.size ? c.size : "(none)") + " / " + (c.fps ? c.fps : "(none)");
    EXPECT_EQ(config.size.width, c.width) << name;
    EXPECT_EQ(config.size.height, c.height) << name;
    EXPECT_EQ(config.fps, c.rate) << name;
  }
}

TEST(CameraConfig, DropoutTextsAndTheScheduleTheyMake) {
  const struct {
    const char* text;
    bool valid;
    double start, length;
    bool lost;
  } texts[] = {
      {"10,5", true, 10, 5, false},
      {"2.5,0.75,lost", true, 2.5, 0.75, true},
      {"0,1", true, 0, 1, false},
      {"10,0", false},
      {"10", false},
      {"10,5,", false},
      {"10,5,gone", false},
      {"1.,5", false},
      {"1.1234567,5", false},
      {"-1,5", false},
      {"10,5 ", false},
      {"2000000,5", false},
      {"", false},
  };
  for (const auto& c : texts) {
    const auto d = parse_dropout(c.text);
    ASSERT_EQ(d.has_value(), c.valid) << c.text;
    if (!d) continue;
    EXPECT_DOUBLE_EQ(d->start_seconds, c.start) << c.text;
    EXPECT_DOUBLE_EQ(d->length_seconds, c.length) << c.text;
    EXPECT_EQ(d->lost, c.lost) << c.text;
  }
  EXPECT_FALSE(parse_dropout(nullptr));
  EXPECT_FALSE(camera_config(nullptr, nullptr, "x").dropout);

  using S = DropoutState;
  const Dropout freeze{10, 5, false};
  const Dropout lost{10, 5, true};
  const struct {
    const Dropout* dropout;
    double run_started, now;
    S state;
  } schedule[] = {
      {&freeze, 0, 9.9, S::kDelivering}, {&freeze, 0, 10, S::kSilent},
      {&freeze, 12, 14.9, S::kSilent},   {&freeze, 0, 15, S::kDelivering},
      {&lost, 0, 9.9, S::kDelivering},   {&lost, 0, 10, S::kLostNow},
      {&lost, 0, 40, S::kLostNow},       {&lost, 11, 11.5, S::kSilent},
      {&lost, 11, 30, S::kSilent},       {&lost, 15, 15.1, S::kDelivering},
  };
  for (const auto& c : schedule) {
    EXPECT_EQ(dropout_state(*c.dropout, c.run_started, c.now), c.state)
        << (c.dropout->lost ? "lost" : "freeze") << " run " << c.run_started << " at " << c.now;
  }
}

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top row first
};

Decoded decode(const std::vector<std::uint8_t>& jpeg) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(jpeg.data()),
               static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Decoded out;
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

TEST(MjpegEncoder, EveryInputFormatAndRowOrderDecodesToThePicture) {
  const Rgb24Image scene = render_scene(SceneKind::kMoving, 3000 * kMs, 160, 120);
  for (PixelFormat format : {PixelFormat::kRgb24, PixelFormat::kRgb32, PixelFormat::kRgb555}) {
    for (bool bottom_up : {true, false}) {
      SCOPED_TRACE(std::to_string(bits_per_pixel(format)) +
                   (bottom_up ? " bottom-up" : " top-down"));
      std::vector<std::uint8_t> frame(frame_size(160, 120, format));
      convert_to_frame(scene, 160, 120, format, frame.data());
      if (!bottom_up) {  // reverse the rows
        const std::size_t stride = row_stride(160, format);
        std::vector<std::uint8_t> flipped(frame.size());
        for (int y = 0; y < 120; ++y) {
          std::copy_n(frame.begin() + stride * y, stride, flipped.begin() + stride * (119 - y));
        }
        frame = flipped;
      }
      std::vector<std::uint8_t> jpeg;
      ASSERT_TRUE(encode_frame(frame.data(), 160, 120, format, bottom_up, kMjpegQuality, jpeg));
      ASSERT_GT(jpeg.size(), 2u);
      EXPECT_LE(jpeg.size(), max_jpeg_size(160, 120));
      EXPECT_EQ(jpeg[0], 0xFF);
      EXPECT_EQ(jpeg[1], 0xD8);
      const Decoded picture = decode(jpeg);
      ASSERT_EQ(picture.width, 160);
      ASSERT_EQ(picture.height, 120);
      double error = 0;
      for (int y = 0; y < 120; ++y) {
        const std::uint8_t* src = scene.row(119 - y);  // decoded rows are top first
        for (int x = 0; x < 160; ++x) {
          for (int c = 0; c < 3; ++c) {
            error += std::abs(picture.rgb[(y * 160 + x) * 3 + c] - src[x * 3 + (2 - c)]);
          }
        }
      }
      EXPECT_LT(error / (160 * 120 * 3), 8.0);
    }
  }
  std::vector<std::uint8_t> jpeg{1, 2, 3};
  EXPECT_FALSE(encode_frame(nullptr, 10, 10, PixelFormat::kRgb24, true, 75, jpeg));
  EXPECT_TRUE(jpeg.empty());
}

}  // namespace
}  // namespace talvex::filters
