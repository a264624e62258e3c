// One clean-up pass over a real folder of 20,000 videos with nothing to delete (the pass
// that runs every minute), side by side with a bare listing of the same folder (readdir
// and stat of every file): what the choice and the order add to the listing.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "capture/video_cleanup.h"

namespace {

namespace fs = std::filesystem;

const fs::path& video_folder() {
  static const fs::path folder = [] {
    const fs::path dir = fs::temp_directory_path() / "talvex_cleanup_bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const std::string& name : talvex::bench::video_names(20000)) {
      std::ofstream(dir / name) << 'v';
    }
    return dir;
  }();
  return folder;
}

void BM_cleanup_pass_20000(benchmark::State& state) {
  const auto folder = talvex::make_video_folder(video_folder().string());
  talvex::CleanupRules rules;
  rules.keep_free_mb = 1;  // met: nothing to delete, every file looked at
  rules.max_age_days = 3650;
  for (auto _ : state) {
    const talvex::CleanupReport r = talvex::clean_up_videos(*folder, rules, {2026, 12, 10});
    benchmark::DoNotOptimize(r.deleted);
  }
}
BENCHMARK(BM_cleanup_pass_20000)->Unit(benchmark::kMillisecond);

// The reference: the folder listed and every file's status read, nothing else.
void BM_cleanup_listing_reference(benchmark::State& state) {
  const std::string dir = video_folder().string();
  for (auto _ : state) {
    std::size_t files = 0;
    DIR* d = ::opendir(dir.c_str());
    while (const dirent* e = ::readdir(d)) {
      struct stat st;
      if (::stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) ++files;
    }
    ::closedir(d);
    benchmark::DoNotOptimize(files);
  }
}
BENCHMARK(BM_cleanup_listing_reference)->Unit(benchmark::kMillisecond);

}  // namespace
