// What the start-up recovery costs before the window works: a killed recording of
// TALVEX_BENCH_RECOVER_MB megabytes (1024 unless set) rebuilt into a video, and a
// temporary recording of the recorder's headers and then TALVEX_BENCH_EMPTY_MB megabytes
// (600 unless set) of empty frame chunks, as damage or malice can leave one. Each runs in a
// child process of its own, whose time and peak memory are the figures; the child's
// address space is limited to TALVEX_BENCH_RECOVER_LIMIT_MB megabytes (8192 unless set) so
// that a recovery that wants more fails in the child instead of taking the machine's memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "capture/avi_recovery.h"
#include "capture/avi_writer.h"
#include "capture/working_files.h"

namespace {

using talvex::bench::Folder;

std::uint64_t megabytes(const char* variable, int otherwise) {
  const char* mb = std::getenv(variable);
  return static_cast<std::uint64_t>(mb ? std::atoi(mb) : otherwise) << 20;
}

talvex::AviStream mjpeg_stream(int width, int height) {
  talvex::RecordingFormat format;
  format.major_type = talvex::kMediaTypeVideo;
  format.format_type = talvex::kFormatVideoInfo;
  format.frame_period = 10000000 / 15;
  format.format.assign(48 + 40, 0);
  const std::int32_t header = 40, bits = 24;
  std::memcpy(format.format.data() + 48, &header, 4);
  std::memcpy(format.format.data() + 52, &width, 4);
  std::memcpy(format.format.data() + 56, &height, 4);
  format.format[60] = 1;
  std::memcpy(format.format.data() + 62, &bits, 2);
  std::memcpy(format.format.data() + 64, "MJPG", 4);
  return *talvex::avi_stream(format);
}

void sync_temporary_recording() {
  if (std::FILE* f = std::fopen(talvex::kTempRecordingName, "rb+")) {
    talvex::system_calls().flush_file(f);
    std::fclose(f);
  }
}

// Runs the start-up recovery in a child process; its time, its peak resident memory (the
// benchmark program's own few megabytes included) and how it ended go into the counters.
void recover_in_child(benchmark::State& state) {
  const std::uint64_t limit = megabytes("TALVEX_BENCH_RECOVER_LIMIT_MB", 8192);
  const auto begin = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit address_space{limit, limit};
    ::setrlimit(RLIMIT_AS, &address_space);
    const talvex::RecoveryReport report = talvex::recover_interrupted_recording();
    ::_exit(static_cast<int>(report.outcome));
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  state.SetIterationTime(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  state.counters["peak_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  // 1 recovered, 2 kept aside, -1 ended by a signal (std::terminate on bad_alloc).
  state.counters["outcome"] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_recover_killed(benchmark::State& state) {
  for (auto _ : state) {
    Folder folder("talvex_bench_recover");
    {
      talvex::AviWriter writer([] { return std::int64_t{0}; });
      writer.open(talvex::kTempRecordingName, mjpeg_stream(1920, 1080),
                  {2026, 12, 10, 10, 0, 0, 0});
      std::vector<std::uint8_t> frame(200 * 1000);
      std::mt19937 random(3);
      for (auto& b : frame) b = static_cast<std::uint8_t>(random());
      std::int64_t time = 0;
      const std::uint64_t size = megabytes("TALVEX_BENCH_RECOVER_MB", 1024);
      while (writer.size_with(frame.size()) < size) {
        writer.append(frame.data(), frame.size(), true, time += 666666);
      }
      // Left as a killed program leaves it: never finished.
    }
    sync_temporary_recording();
    state.counters["file_mb"] =
        static_cast<double>(std::filesystem::file_size(talvex::kTempRecordingName) >> 20);
    recover_in_child(state);
  }
}
BENCHMARK(BM_recover_killed)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

void BM_recover_empty_chunks(benchmark::State& state) {
  for (auto _ : state) {
    Folder folder("talvex_bench_recover");
    {
      talvex::AviWriter writer([] { return std::int64_t{0}; });
      writer.open(talvex::kTempRecordingName, mjpeg_stream(320, 240), {2026, 12, 10, 10, 0, 0, 0});
    }
    std::FILE* f = std::fopen(talvex::kTempRecordingName, "ab");
    std::vector<char> block(8 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); i += 8) std::memcpy(&block[i], "00dc", 4);
    for (std::uint64_t n = megabytes("TALVEX_BENCH_EMPTY_MB", 600); n > 0;) {
      const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n, block.size()));
      std::fwrite(block.data(), 1, step, f);
      n -= step;
    }
    std::fclose(f);
    sync_temporary_recording();
    state.counters["file_mb"] =
        static_cast<double>(std::filesystem::file_size(talvex::kTempRecordingName) >> 20);
    recover_in_child(state);
  }
}
BENCHMARK(BM_recover_empty_chunks)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
