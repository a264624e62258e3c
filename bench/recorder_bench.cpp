// What the recorder costs: the compressor on every frame (it now runs whether or not a
// recording runs) next to libjpeg-turbo encoding the same frame alone, the recorder taking
// one compressed frame into its open file, and the save of a long recording, the old copy
// of the finished file against the recorder's finish and rename.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "bench/bench_support.h"
#include "capture/avi_recovery.h"
#include "capture/avi_writer.h"
#include "capture/recording_stream.h"
#include "capture/working_files.h"
#include "codec/mjpeg_encoder.h"

namespace {

using talvex::bench::Folder;

using talvex::dshow::PixelFormat;

struct Size {
  int width, height;
};
constexpr Size kSizes[] = {{320, 240}, {1920, 1080}};

// A camera-like 32-bit picture: smooth shading, edges and a little noise.
std::vector<std::uint8_t> picture(int width, int height) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 4);
  std::mt19937 random(7);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = f.data() + (static_cast<std::size_t>(y) * width + x) * 4;
      const int band = ((x / 40) + (y / 30)) % 2 ? 60 : 0;
      p[0] = static_cast<std::uint8_t>(std::clamp(x * 255 / width + band + noise(random), 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / height + noise(random), 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(128 + band + noise(random), 0, 255));
      p[3] = 0;
    }
  }
  return f;
}

void BM_compress(benchmark::State& state) {
  const Size s = kSizes[state.range(0)];
  const auto frame = picture(s.width, s.height);
  std::vector<std::uint8_t> jpeg;
  for (auto _ : state) {
    talvex::codec::encode_frame(frame.data(), s.width, s.height, PixelFormat::kRgb32, true,
                                talvex::codec::kMjpegQuality, jpeg);
    benchmark::DoNotOptimize(jpeg.data());
  }
}
BENCHMARK(BM_compress)->DenseRange(0, 1);

// libjpeg-turbo alone on the same frame: its own BGRX input, bottom-up rows, memory output.
void BM_libjpeg_alone(benchmark::State& state) {
  const Size s = kSizes[state.range(0)];
  const auto frame = picture(s.width, s.height);
  jpeg_compress_struct c;
  jpeg_error_mgr error;
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  for (auto _ : state) {
    unsigned char* out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&c, &out, &out_size);
    c.image_width = s.width;
    c.image_height = s.height;
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, talvex::codec::kMjpegQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(frame.data()) +
                     static_cast<std::size_t>(s.height - 1 - c.next_scanline) * s.width * 4;
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  jpeg_destroy_compress(&c);
}
BENCHMARK(BM_libjpeg_alone)->DenseRange(0, 1);

std::vector<std::uint8_t> video_info(int width, int height) {
  std::vector<std::uint8_t> f(48 + 40, 0);
  const std::int64_t period = 10000000 / 15;
  std::memcpy(f.data() + 40, &period, 8);
  const std::int32_t header = 40, bits = 24;
  std::memcpy(f.data() + 48, &header, 4);
  std::memcpy(f.data() + 52, &width, 4);
  std::memcpy(f.data() + 56, &height, 4);
  f[60] = 1;
  std::memcpy(f.data() + 62, &bits, 2);
  std::memcpy(f.data() + 64, "MJPG", 4);
  return f;
}

talvex::RecordingFormat mjpeg_format(int width, int height) {
  talvex::RecordingFormat format;
  format.major_type = talvex::kMediaTypeVideo;
  format.format_type = talvex::kFormatVideoInfo;
  format.frame_period = 10000000 / 15;
  format.format = video_info(width, height);
  return format;
}

// The recorder taking one compressed frame from the streaming thread into its open file.
void BM_record(benchmark::State& state) {
  const Size s = kSizes[state.range(0)];
  std::vector<std::uint8_t> jpeg;
  talvex::codec::encode_frame(picture(s.width, s.height).data(), s.width, s.height,
                              PixelFormat::kRgb32, true, talvex::codec::kMjpegQuality, jpeg);
  Folder folder("talvex_bench_record");
  talvex::RecordingStream stream;
  stream.set_format(mjpeg_format(s.width, s.height));
  stream.start(talvex::RecordingStream::Kind::kContinuous);
  std::int64_t time = 0;
  for (auto _ : state) {
    talvex::StreamSample sample;
    sample.bytes = jpeg;
    sample.time = time += 666666;
    stream.deliver(std::move(sample));
  }
  std::string name;
  stream.stop(name);
}
BENCHMARK(BM_record)->DenseRange(0, 1);

// The save of a recording of TALVEX_BENCH_SAVE_MB megabytes (1024 unless set): the copy
// the multiplexer's path makes of its finished file, against the recorder's index, final
// headers and rename. The file is written (and on the disk) before the clock starts.
std::uint64_t save_bytes() {
  const char* mb = std::getenv("TALVEX_BENCH_SAVE_MB");
  return static_cast<std::uint64_t>(mb ? std::atoi(mb) : 1024) << 20;
}

std::unique_ptr<talvex::AviWriter> long_recording() {
  auto writer = std::make_unique<talvex::AviWriter>([] { return std::int64_t{0}; });
  writer->open(talvex::kTempRecordingName, *talvex::avi_stream(mjpeg_format(1920, 1080)),
               {2026, 12, 10, 10, 0, 0, 0});
  std::vector<std::uint8_t> frame(200 * 1000);
  std::mt19937 random(3);
  for (auto& b : frame) b = static_cast<std::uint8_t>(random());
  std::int64_t time = 0;
  while (writer->size_with(frame.size()) < save_bytes()) {
    writer->append(frame.data(), frame.size(), true, time += 666666);
  }
  return writer;
}

void sync_all() {
  if (std::FILE* f = std::fopen(talvex::kTempRecordingName, "rb+")) {
    talvex::system_calls().flush_file(f);
    std::fclose(f);
  }
}

void BM_save_copy(benchmark::State& state) {
  for (auto _ : state) {
    Folder folder("talvex_bench_save");
    long_recording()->finish();
    sync_all();
    const auto begin = std::chrono::steady_clock::now();
    std::string name;
    std::size_t frames = 0;
    talvex::save_temporary_recording(nullptr, {2026, 12, 10, 10, 0, 0, 0},
                                     {2026, 12, 10, 11, 0, 0, 0}, name, frames);
    talvex::system_calls().remove_file(talvex::kTempRecordingName);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  }
}
BENCHMARK(BM_save_copy)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

void BM_save_rename(benchmark::State& state) {
  for (auto _ : state) {
    Folder folder("talvex_bench_save");
    auto writer = long_recording();
    sync_all();
    const auto begin = std::chrono::steady_clock::now();
    std::string name;
    writer->finish();
    talvex::rename_to_dated_name(talvex::kTempRecordingName, {2026, 12, 10, 10, 0, 0, 0},
                                 {2026, 12, 10, 11, 0, 0, 0}, name);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  }
}
BENCHMARK(BM_save_rename)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
