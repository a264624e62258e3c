// The light filter, the mask and the warm-up of the motion detector, on generated camera
// sequences written as the frame files the capture passes write.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/talvex_messages.h"
#include "capture/frame_buffer.h"
#include "capture/frame_image.h"
#include "capture/motion_filter.h"
#include "capture/motion_mask.h"
#include "capture/warm_up.h"
#include "capture/working_files.h"
#include "tests/core/motion_scenes.h"
#include "tests/core/test_support.h"

namespace talvex {
namespace {

using testing::Picture;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A picture as a frame of the grabber, at 16 (5-5-5), 24 or 32 bits a pixel.
}  // namespace
FrameBuffer frame_of(const Picture& p, int bits) {
  FrameBuffer f;
  f.width = p.width;
  f.height = p.height;
  f.bit_count = bits;
  const int bytes = bits / 8;
  const std::size_t stride = (static_cast<std::size_t>(p.width) * bytes + 3) & ~std::size_t{3};
  f.bytes.assign(stride * p.height, 0);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::uint8_t* in = &p.pixels[(static_cast<std::size_t>(y) * p.width + x) * 3];
      std::uint8_t* out = &f.bytes[y * stride + x * bytes];
      if (bits == 16) {
        const int w = (in[0] >> 3) | ((in[1] >> 3) << 5) | ((in[2] >> 3) << 10);
        out[0] = static_cast<std::uint8_t>(w & 0xFF);
        out[1] = static_cast<std::uint8_t>(w >> 8);
      } else {
        std::copy(in, in + 3, out);
      }
    }
  }
  f.size = static_cast<std::int32_t>(f.bytes.size());
  return f;
}

namespace {
struct Config {
  const char* name;
  bool light_filter;
  bool mask;
};
constexpr Config kDesign{"design", false, false};
constexpr Config kFilter{"filter", true, false};
constexpr Config kMaskOnly{"mask", false, true};
constexpr Config kAllOn{"all on", true, true};

class MotionFilterTest : public ::testing::Test {
 protected:
  MotionFilterTest() { settings_.video_device = "Talvex Replay Camera"; }

  void write_frame(const Picture& p, int index, int bits = 24) {
    ASSERT_EQ(write_frame_file(settings_, frame_of(p, bits), index), msg::kOk);
  }
  void use_mask(const std::string& bytes) {
    testing::write_bytes(kMaskFileName, bytes);
    auto picture = std::make_shared<MaskPicture>();
    ASSERT_TRUE(read_mask_file(kMaskFileName, *picture));
    mask_.set(std::move(picture));
  }
  MotionMeasure measure(const Config& c) {
    const auto m = measure_motion_filtered(kFrameFileNames[0], kFrameFileNames[1], c.light_filter,
                                           c.mask ? &mask_ : nullptr);
    EXPECT_TRUE(m.has_value());
    return m.value_or(MotionMeasure{});
  }

  testing::ScratchDirectory scratch_;
  Settings settings_;
  MotionMask mask_;
  int stamp_ = 0;
};

std::string answers(const bool a[3]) {
  std::string s;
  for (int i = 0; i < 3; ++i) s += a[i] ? " yes" : "  no";
  return s;
}

// Every row of the table, every pair of consecutive frames as the passes compare them: the
// answer at each threshold is whether any pair's measure exceeds it. The product's answer
// (light filter on, the row's mask in place) is the row's; a person the design sees in
// steady light, the filter sees too. The detector itself gives what its measure says.
TEST_F(MotionFilterTest, SequenceTable) {
  use_mask(testing::bmp_bytes(testing::tree_mask(kWidth, kHeight)));
  const Config configs[4] = {kDesign, kFilter, kMaskOnly, kAllOn};
  std::printf("%-30s %-14s %-14s %-14s %-14s   largest measure: design / filter / all on\n",
              "sequence (3.0 7.5 12.5)", "design", "filter", "mask", "all on");
  for (const testing::SceneRow& row : testing::scene_rows()) {
    SCOPED_TRACE(row.name);
    const std::vector<Picture> frames = testing::scene_frames(row.name, kWidth, kHeight);
    ASSERT_GE(frames.size(), 2u);
    float largest[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
      write_frame(frames[i], 0);
      write_frame(frames[i + 1], 1);
      for (int c = 0; c < 4; ++c) {
        const MotionMeasure m = measure(configs[c]);
        largest[c] = std::max({largest[c], m.darker, m.brighter});
        if (c == 1 || c == 3) {
          settings_.light_filter = true;
          settings_.motion_threshold = 7.5f;
          EXPECT_EQ(detect_motion(settings_, configs[c].mask ? &mask_ : nullptr),
                    m.darker > 7.5f || m.brighter > 7.5f)
              << "pair " << i;
        }
      }
    }
    bool got[4][3];
    for (int c = 0; c < 4; ++c) {
      for (int t = 0; t < 3; ++t) got[c][t] = largest[c] > testing::kSceneThresholds[t];
    }
    std::printf("%-30s %-14s %-14s %-14s %-14s   %.2f / %.2f / %.2f\n", row.name,
                answers(got[0]).c_str(), answers(got[1]).c_str(), answers(got[2]).c_str(),
                answers(got[3]).c_str(), largest[0], largest[1], largest[3]);
    const bool* product = row.masked ? got[3] : got[1];
    for (int t = 0; t < 3; ++t) {
      const float threshold = testing::kSceneThresholds[t];
      EXPECT_EQ(product[t], row.expected[t]) << "at " << threshold;
      if (row.object && !row.masked) EXPECT_EQ(got[1][t], got[0][t]) << "at " << threshold;
    }
    if (row.light_change) EXPECT_TRUE(got[0][0]) << "the design's measure alarms at 3.0";
  }
}

// The filter on frame files of 32 and 16 bits a pixel, as other screens give them, and with
// the mask read from an 8-bit file: the same answers at the default threshold.
TEST_F(MotionFilterTest, OtherDepthsAndAnEightBitMask) {
  use_mask(testing::bmp_bytes(testing::tree_mask(kWidth / 2, kHeight / 2), true));
  for (const char* name : {"lamp on", "cloud", "person during the ramp", "tree waving, masked",
                           "person outside the mask"}) {
    const std::vector<Picture> frames = testing::scene_frames(name, kWidth, kHeight);
    const testing::SceneRow& row =
        *std::find_if(testing::scene_rows().begin(), testing::scene_rows().end(),
                      [name](const testing::SceneRow& r) { return std::string(r.name) == name; });
    for (int bits : {32, 16}) {
      float largest = 0.0f;
      for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
        write_frame(frames[i], 0, bits);
        write_frame(frames[i + 1], 1, bits);
        const MotionMeasure m = measure(row.masked ? kAllOn : kFilter);
        largest = std::max({largest, m.darker, m.brighter});
      }
      EXPECT_EQ(largest > 7.5f, row.expected[1]) << name << " at " << bits << " bits: " << largest;
    }
  }
}

// With the filter off and no mask the detector is the design's, decision for decision, on
// every threshold of the dialog; a mask that counts every pixel fully changes no measure.
TEST_F(MotionFilterTest, SettingsOffKeepTheDesignsDecisions) {
  const std::vector<Picture> frames =
      testing::scene_frames("person during the ramp", kWidth, kHeight);
  MotionMask none;
  MaskPicture white;
  white.width = white.height = 1;
  white.weights = {255};
  MotionMask full;
  full.set(std::make_shared<MaskPicture>(white));
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    write_frame(frames[i], 0);
    write_frame(frames[i + 1], 1);
    for (float threshold = 3.0f; threshold <= 12.5f; threshold += 0.5f) {
      settings_.motion_threshold = threshold;
      settings_.light_filter = false;
      const bool design = detect_motion(settings_);
      EXPECT_EQ(detect_motion(settings_, nullptr), design) << i << " " << threshold;
      EXPECT_EQ(detect_motion(settings_, &none), design) << i << " " << threshold;
    }
    const auto plain =
        measure_motion_filtered(kFrameFileNames[0], kFrameFileNames[1], false, nullptr);
    const auto masked =
        measure_motion_filtered(kFrameFileNames[0], kFrameFileNames[1], false, &full);
    ASSERT_TRUE(plain && masked);
    EXPECT_EQ(plain->darker, masked->darker);
    EXPECT_EQ(plain->brighter, masked->brighter);
  }
}

// A grey mask counts its pixels in proportion: half-weight pixels that changed by 40 measure
// 40 over a picture that is otherwise still, since the mean is over the weights.
TEST_F(MotionFilterTest, GreyMaskWeighsInProportion) {
  Picture still = testing::dark_then_still(0, 1, 64, 48)[0];
  Picture changed = still;
  for (std::size_t i = 0; i < changed.pixels.size() / 2; ++i) {
    changed.pixels[i] = static_cast<std::uint8_t>(std::min(255, changed.pixels[i] + 40));
  }
  write_frame(still, 0);
  write_frame(changed, 1);
  Picture mask;
  mask.width = 64;
  mask.height = 48;
  mask.pixels.assign(64 * 48 * 3, 0);
  // The bottom half of the picture (the rows that changed), at grey 128.
  std::fill(mask.pixels.begin(), mask.pixels.begin() + 64 * 24 * 3, 128);
  use_mask(testing::bmp_bytes(mask));
  const MotionMeasure m = measure(kMaskOnly);
  EXPECT_NEAR(m.brighter, 39.0f, 1.5f);
  EXPECT_NEAR(m.darker, 0.0f, 0.5f);
  const MotionMeasure plain = measure(kDesign);
  EXPECT_NEAR(plain.brighter, 19.5f, 1.0f);
}

// A change confined to a small part of the picture is left to the measure, however smooth:
// a flat patch (a sixteenth of the picture) 60 levels brighter alarms with the filter as
// without it.
TEST_F(MotionFilterTest, ASmallSmoothChangeIsStillMotion) {
  const Picture still = testing::dark_then_still(0, 1, kWidth, kHeight)[0];
  Picture patched = still;
  for (int y = kHeight / 4; y < kHeight / 2; ++y) {
    for (int x = kWidth / 4; x < kWidth / 2; ++x) {
      for (int k = 0; k < 3; ++k) {
        std::uint8_t& v = patched.pixels[(static_cast<std::size_t>(y) * kWidth + x) * 3 + k];
        v = static_cast<std::uint8_t>(std::min(255, v + 60));
      }
    }
  }
  write_frame(still, 0);
  write_frame(patched, 1);
  const MotionMeasure design = measure(kDesign);
  const MotionMeasure filtered = measure(kFilter);
  EXPECT_GT(design.brighter, 3.0f);
  EXPECT_EQ(filtered.brighter, design.brighter);
}

std::vector<int> logged;
void log_number(int n) { logged.push_back(n); }

// The mask file's faults: each is ignored (no mask: the design's measure) and said once as
// 052 until the file changes; a missing file says nothing. The file is checked at most
// once a second and read again only when its time or size changed.
TEST_F(MotionFilterTest, MaskFileFaults) {
  const std::string good = testing::bmp_bytes(testing::tree_mask(32, 24));
  Picture dark;
  dark.width = 32;
  dark.height = 24;
  dark.pixels.assign(32 * 24 * 3, 0);
  const std::string black = testing::bmp_bytes(dark);
  std::string huge = good;
  huge[18] = '\xFF';
  huge[19] = '\xFF';
  huge[22] = '\xFF';
  huge[23] = '\x7F';
  Picture one;
  one.width = one.height = 1;
  one.pixels = {255, 255, 255};
  const struct {
    const char* name;
    std::string bytes;
    bool usable;
  } cases[] = {
      {"0 bytes", "", false},
      {"cut short", good.substr(0, good.size() / 2), false},
      {"headers only", good.substr(0, 54), false},
      {"huge dimensions in a small file", huge, false},
      {"all black", black, false},
      {"not a bitmap", std::string(4000, 'x'), false},
      {"1 x 1 white", testing::bmp_bytes(one), true},
      {"8 bits", testing::bmp_bytes(testing::tree_mask(32, 24), true), true},
      {"24 bits", good, true},
  };
  auto t = MaskWatch::Clock::now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    logged.clear();
    MaskWatch watch(log_number);
    std::filesystem::remove(kMaskFileName);
    watch.poll(t);
    EXPECT_TRUE(watch.mask().empty());
    EXPECT_TRUE(logged.empty()) << "a missing mask is no fault";
    testing::write_bytes(kMaskFileName, c.bytes);
    t += std::chrono::milliseconds(500);
    watch.poll(t);
    EXPECT_TRUE(watch.mask().empty()) << "not looked at again within the second";
    for (int i = 0; i < 3; ++i) {
      t += std::chrono::seconds(1);
      watch.poll(t);
    }
    EXPECT_EQ(!watch.mask().empty(), c.usable);
    EXPECT_EQ(logged, c.usable ? std::vector<int>{} : std::vector<int>{msg::kMaskUnusable});
  }
  // More than 64 MiB: refused unread (a sparse file).
  logged.clear();
  {
    MaskWatch watch(log_number);
    testing::write_bytes(kMaskFileName, good);
    std::filesystem::resize_file(kMaskFileName, kLargestMaskFile + 1);
    watch.poll(t);
    EXPECT_TRUE(watch.mask().empty());
    EXPECT_EQ(logged, std::vector<int>{msg::kMaskUnusable});
  }
}

// Replaced while running: a good mask, then a bad one (ignored, said once), then a good one
// again, then removed; each change seen within a second.
TEST_F(MotionFilterTest, MaskReplacedWhileRunning) {
  logged.clear();
  MaskWatch watch(log_number);
  auto t = MaskWatch::Clock::now();
  testing::write_bytes(kMaskFileName, testing::bmp_bytes(testing::tree_mask(32, 24)));
  watch.poll(t);
  ASSERT_FALSE(watch.mask().empty());
  const ScaledMask* scaled = watch.mask().for_size(kWidth, kHeight);
  ASSERT_NE(scaled, nullptr);
  EXPECT_LT(scaled->total(), std::int64_t{255} * kWidth * kHeight);
  auto replace = [&](const std::string& bytes) {
    // A new file time even on file systems that keep whole seconds.
    testing::write_bytes(kMaskFileName, bytes);
    std::filesystem::last_write_time(
        kMaskFileName,
        std::filesystem::last_write_time(kMaskFileName) + std::chrono::seconds(++stamp_));
    t += std::chrono::milliseconds(1100);
    watch.poll(t);
  };
  replace("BM short");
  EXPECT_TRUE(watch.mask().empty());
  t += std::chrono::seconds(5);
  watch.poll(t);
  EXPECT_EQ(logged, std::vector<int>{msg::kMaskUnusable});
  Picture one;
  one.width = one.height = 1;
  one.pixels = {255, 255, 255};
  replace(testing::bmp_bytes(one));
  ASSERT_FALSE(watch.mask().empty());
  EXPECT_EQ(watch.mask().for_size(kWidth, kHeight)->total(), std::int64_t{255} * kWidth * kHeight);
  std::filesystem::remove(kMaskFileName);
  t += std::chrono::milliseconds(1100);
  watch.poll(t);
  EXPECT_TRUE(watch.mask().empty());
  EXPECT_EQ(logged.size(), 1u);
}

TEST(WarmUp, AnswersForTheSetSecondsAfterEachStart) {
  WarmUp warm_up;
  const auto t = WarmUp::Clock::now();
  EXPECT_FALSE(warm_up.active(t, 2)) << "nothing started yet";
  warm_up.start(t);
  EXPECT_TRUE(warm_up.active(t + std::chrono::milliseconds(1999), 2));
  EXPECT_FALSE(warm_up.active(t + std::chrono::seconds(2), 2));
  EXPECT_FALSE(warm_up.active(t, 0)) << "0 s: the design's behaviour";
  EXPECT_TRUE(warm_up.active(t + std::chrono::seconds(29), 99)) << "at most 30 s";
  EXPECT_FALSE(warm_up.active(t + std::chrono::seconds(30), 99));
  EXPECT_FALSE(warm_up.active(t + std::chrono::milliseconds(500), -5));
  warm_up.start(t + std::chrono::seconds(10));  // a reconnection
  EXPECT_TRUE(warm_up.active(t + std::chrono::seconds(11), 2));
}

}  // namespace
}  // namespace talvex
