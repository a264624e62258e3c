// The capture pass's frame work at webcam sizes, side by side with references measured in
// the same run: OpenCV doing the motion measure's work on the same two files, the I/O
// floor of reading both files into buffers allocated beforehand, and the floor of a whole
// working pass (one frame file rewritten in place, both frame files read).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/frame_buffer.h"
#include "capture/frame_image.h"
#include "capture/motion_filter.h"
#include "capture/motion_mask.h"
#include "capture/snapshot.h"
#include "capture/warm_up.h"

#ifdef TALVEX_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#endif

namespace {

struct Resolution {
  int width, height;
};
constexpr Resolution kResolutions[] = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};

// A scratch folder, current for the whole run, holding two 32-bit frames of each size.
class Frames {
 public:
  Frames() {
    folder_ = std::filesystem::temp_directory_path() / "talvex_bench_frames";
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
  }
  ~Frames() {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(folder_, ignored);
  }
  // A frame of noise around a level; the newer one differs in a patch.
  static talvex::FrameBuffer frame(int width, int height, bool newer) {
    talvex::FrameBuffer f;
    f.width = width;
    f.height = height;
    f.bit_count = 32;
    f.bytes.resize(static_cast<std::size_t>(width) * height * 4);
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(100, 110);
    for (std::size_t i = 0; i < f.bytes.size(); ++i) {
      f.bytes[i] = static_cast<std::uint8_t>(noise(random));
    }
    if (newer) {
      for (int y = height / 4; y < height / 2; ++y) {
        for (int x = width / 4; x < width / 2; ++x) f.bytes[(y * width + x) * 4] = 30;
      }
    }
    f.size = static_cast<std::int32_t>(f.bytes.size());
    return f;
  }
  void write_pair(const Resolution& r) {
    talvex::Settings s;
    s.video_device = "bench";
    talvex::write_frame_file(s, frame(r.width, r.height, false), 0);
    talvex::write_frame_file(s, frame(r.width, r.height, true), 1);
  }

 private:
  std::filesystem::path folder_;
};

Frames& frames() {
  static Frames f;
  return f;
}

// A grabber whose newest sample is a fixed frame.
class BenchSource : public talvex::FrameSource {
 public:
  explicit BenchSource(const talvex::FrameBuffer& frame) : frame_(frame) {}
  bool has_grabber() const override { return true; }
  bool grabbed_size(long& size) override {
    size = static_cast<long>(frame_.bytes.size());
    return true;
  }
  bool copy_grabbed(void* bytes, long& size) override {
    std::memcpy(bytes, frame_.bytes.data(), static_cast<std::size_t>(size));
    return true;
  }
  bool grabbed_format(talvex::GrabbedFormat& format) override {
    format = talvex::GrabbedFormat{frame_.width, frame_.height, frame_.bit_count};
    return true;
  }

 private:
  const talvex::FrameBuffer& frame_;
};

void use_device(talvex::Settings& s) {
  s.video_device = "bench";
  s.motion_threshold = 1000.0f;  // never reached: both directions are measured
}

void BM_motion_ours(benchmark::State& state) {
  const Resolution r = kResolutions[state.range(0)];
  frames().write_pair(r);
  talvex::Settings s;
  use_device(s);
  for (auto _ : state) benchmark::DoNotOptimize(talvex::detect_motion(s));
}

void BM_motion_floor(benchmark::State& state) {
  const Resolution r = kResolutions[state.range(0)];
  frames().write_pair(r);
  std::vector<char> a(static_cast<std::size_t>(r.width) * r.height * 4 + 54);
  std::vector<char> b(a.size());
  for (auto _ : state) {
    for (auto [name, buffer] : {std::pair{"Talvex_0.bmp", &a}, std::pair{"Talvex_1.bmp", &b}}) {
      std::FILE* f = std::fopen(name, "rb");
      benchmark::DoNotOptimize(std::fread(buffer->data(), 1, buffer->size(), f));
      std::fclose(f);
    }
  }
}

#ifdef TALVEX_WITH_OPENCV
void BM_motion_opencv(benchmark::State& state) {
  const Resolution r = kResolutions[state.range(0)];
  frames().write_pair(r);
  const cv::Matx13f weights(0.11f, 0.59f, 0.30f);
  for (auto _ : state) {
    const cv::Mat a = cv::imread("Talvex_0.bmp", cv::IMREAD_COLOR);
    const cv::Mat b = cv::imread("Talvex_1.bmp", cv::IMREAD_COLOR);
    cv::Mat darker, brighter, grey;
    cv::subtract(a, b, darker);
    cv::subtract(b, a, brighter);
    cv::transform(darker, grey, weights);
    benchmark::DoNotOptimize(cv::mean(grey)[0]);
    cv::transform(brighter, grey, weights);
    benchmark::DoNotOptimize(cv::mean(grey)[0]);
  }
}
BENCHMARK(BM_motion_opencv)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
#endif

void BM_write_frame(benchmark::State& state) {
  const Resolution r = kResolutions[state.range(0)];
  frames();
  const talvex::FrameBuffer f = Frames::frame(r.width, r.height, false);
  talvex::Settings s;
  use_device(s);
  for (auto _ : state) benchmark::DoNotOptimize(talvex::write_frame_file(s, f, 0));
}

void BM_snapshot(benchmark::State& state) {
  const Resolution r = kResolutions[state.range(0)];
  frames().write_pair(r);
  talvex::Settings s;
  use_device(s);
  for (auto _ : state) benchmark::DoNotOptimize(talvex::make_snapshot(s, 1));
}

// Two working passes: each writes its frame file and the snapshot; the second also checks
// for motion. Reported per pass.
void BM_pass(benchmark::State& state) {
  const Resolution r = kResolutions[state.range(0)];
  frames();
  const talvex::FrameBuffer older = Frames::frame(r.width, r.height, false);
  const talvex::FrameBuffer newer = Frames::frame(r.width, r.height, true);
  talvex::Settings s;
  use_device(s);
  for (auto _ : state) {
    talvex::write_frame_file(s, older, 0);
    talvex::make_snapshot(s, 0);
    talvex::write_frame_file(s, newer, 1);
    talvex::make_snapshot(s, 1);
    benchmark::DoNotOptimize(talvex::detect_motion(s));
  }
  state.SetItemsProcessed(state.iterations() * 2);
}

// The working pass that does everything (grab copy, frame file 1, snapshot, motion against
// frame file 0 of the previous pass) and its I/O floor (the same frame file rewritten in
// place, then both frame files read into buffers allocated beforehand).
class PassAndFloor {
 public:
  // With `filters`, the pass runs with the light filter on, a mask (the top-right quarter
  // ignored, as a tree in a corner would be) and the warm-up asked, as the installed kit
  // runs it.
  explicit PassAndFloor(const Resolution& r, bool filters = false)
      : filters_(filters),
        newer_(Frames::frame(r.width, r.height, true)),
        source_(newer_),
        file_(newer_.bytes.size() + 54),
        older_buffer_(file_.size()),
        newer_buffer_(file_.size()) {
    frames().write_pair(r);
    std::FILE* f = std::fopen("Talvex_1.bmp", "rb");
    benchmark::DoNotOptimize(std::fread(file_.data(), 1, file_.size(), f));
    std::fclose(f);
    use_device(settings_);
    if (filters_) {
      settings_.light_filter = true;
      settings_.warm_up = 2;
      auto mask = std::make_shared<talvex::MaskPicture>();
      mask->width = 64;
      mask->height = 48;
      mask->weights.assign(64 * 48, 255);
      for (int y = 24; y < 48; ++y) {
        for (int x = 32; x < 64; ++x) mask->weights[y * 64 + x] = 0;
      }
      mask_.set(std::move(mask));
      warm_up_.start(talvex::WarmUp::Clock::now() - std::chrono::seconds(10));
    }
  }
  void pass() {
    talvex::grab_frame(settings_, &source_, frame_, nullptr);
    talvex::write_frame_file(settings_, frame_, 1);
    talvex::make_snapshot(settings_, 1);
    if (filters_) {
      if (!warm_up_.active(talvex::WarmUp::Clock::now(), settings_.warm_up)) {
        benchmark::DoNotOptimize(talvex::detect_motion(settings_, &mask_));
      }
    } else {
      benchmark::DoNotOptimize(talvex::detect_motion(settings_));
    }
  }
  void floor() {
    std::FILE* out = std::fopen("Talvex_1.bmp", "r+b");
    benchmark::DoNotOptimize(std::fwrite(file_.data(), 1, file_.size(), out));
    std::fclose(out);
    for (auto [name, buffer] :
         {std::pair{"Talvex_0.bmp", &older_buffer_}, std::pair{"Talvex_1.bmp", &newer_buffer_}}) {
      std::FILE* f = std::fopen(name, "rb");
      benchmark::DoNotOptimize(std::fread(buffer->data(), 1, buffer->size(), f));
      std::fclose(f);
    }
  }

 private:
  const bool filters_;
  const talvex::FrameBuffer newer_;
  BenchSource source_;
  talvex::MotionMask mask_;
  talvex::WarmUp warm_up_;
  talvex::FrameBuffer frame_;
  talvex::Settings settings_;
  std::vector<char> file_, older_buffer_, newer_buffer_;
};

// The pass and its floor alternate, each timed while the other runs untimed, so that each
// starts from what the other left in the caches, as passes do among the rest of the
// machine's work.
void BM_pass_whole(benchmark::State& state) {
  PassAndFloor work(kResolutions[state.range(0)]);
  for (auto _ : state) {
    work.pass();
    state.PauseTiming();
    work.floor();
    state.ResumeTiming();
  }
}

// The same pass with the light filter, the mask and the warm-up, against the same floor.
void BM_pass_filtered(benchmark::State& state) {
  PassAndFloor work(kResolutions[state.range(0)], true);
  for (auto _ : state) {
    work.pass();
    state.PauseTiming();
    work.floor();
    state.ResumeTiming();
  }
}

void BM_pass_floor(benchmark::State& state) {
  PassAndFloor work(kResolutions[state.range(0)]);
  for (auto _ : state) {
    state.PauseTiming();
    work.pass();
    state.ResumeTiming();
    work.floor();
  }
}

// The same two, each repeated on its own, with its own data hot in the caches.
void BM_pass_whole_apart(benchmark::State& state) {
  PassAndFloor work(kResolutions[state.range(0)]);
  for (auto _ : state) work.pass();
}

void BM_pass_floor_apart(benchmark::State& state) {
  PassAndFloor work(kResolutions[state.range(0)]);
  for (auto _ : state) work.floor();
}

BENCHMARK(BM_motion_ours)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_motion_floor)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_frame)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_snapshot)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pass)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pass_whole)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pass_filtered)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pass_floor)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pass_whole_apart)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pass_floor_apart)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
