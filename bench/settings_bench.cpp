// Reading the configuration line with our scanner, side by side with the plain sscanf of
// the same format (which has no field limits) as the reference.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "app/settings.h"

namespace {

constexpr char kFile[] =
    "/* Don't edit by hand. Use Talvex to change. */\n"
    "1.4 120 -7 USB_Video_Device MJPEG_Compressor 1 0 C:\\My>Videos 1 ftp.example.org 2121 "
    "camera ct4dsfu\" cam/latest.jpg 1 4.500000 12 >";

void BM_read_settings(benchmark::State& state) {
  talvex::Settings settings;
  for (auto _ : state) {
    std::FILE* f = ::fmemopen(const_cast<char*>(kFile), sizeof kFile - 1, "r");
    benchmark::DoNotOptimize(talvex::read_settings_from(f, settings));
    std::fclose(f);
  }
}
BENCHMARK(BM_read_settings);

void BM_sscanf_reference(benchmark::State& state) {
  char version[512], device[512], compressor[512], folder[512], server[512], user[512],
      password[512], destination[512], terminator[512];
  int x, y, frames, video, ftp, port, motion, duration;
  float threshold;
  for (auto _ : state) {
    std::FILE* f = ::fmemopen(const_cast<char*>(kFile), sizeof kFile - 1, "r");
    char line[512];
    std::fgets(line, 511, f);
    std::fgets(line, 511, f);
    benchmark::DoNotOptimize(
        std::sscanf(line, "%s %d %d %s %s %d %d %s %d %s %d %s %s %s %d %f %d %s", version, &x, &y,
                    device, compressor, &frames, &video, folder, &ftp, server, &port, user,
                    password, destination, &motion, &threshold, &duration, terminator));
    std::fclose(f);
  }
}
BENCHMARK(BM_sscanf_reference);

}  // namespace
