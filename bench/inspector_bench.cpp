// The inspector's list of a folder of 20,000 videos in range: the newest hundred chosen out
// of all of them, side by side with the scan that kept the first hundred it met.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "inspector/video_list.h"

namespace {

std::vector<std::string> folder_names() { return talvex::bench::video_names(20000); }

const talvex::FilterRange kWholeYear{{2026, 1, 1, 0, 0, 0, 0},
                                     {2026, 1, 1, 0, 0, 0, 0},
                                     {2026, 12, 31, 23, 59, 59, 0},
                                     {2026, 12, 31, 23, 59, 59, 0}};

void BM_inspector_newest_hundred_of_20000(benchmark::State& state) {
  const std::vector<std::string> names = folder_names();
  talvex::VideoTable table;
  for (auto _ : state) {
    table.fill(names, kWholeYear, [](int, const talvex::RowTexts&) { return true; });
    benchmark::DoNotOptimize(table.listed_count);
  }
}
BENCHMARK(BM_inspector_newest_hundred_of_20000)->Unit(benchmark::kMillisecond);

// The reference: every name tested for the range, the first hundred entered.
void BM_inspector_first_hundred_reference(benchmark::State& state) {
  const std::vector<std::string> names = folder_names();
  talvex::VideoTable table;
  const talvex::CalendarTime lower = kWholeYear.lower(), upper = kWholeYear.upper();
  for (auto _ : state) {
    int listed = 0;
    for (const std::string& name : names) {
      if (!talvex::video_in_range(name, lower, upper)) continue;
      talvex::RowTexts texts;
      if (table.make_video_entry(name, listed, &texts)) ++listed;
    }
    benchmark::DoNotOptimize(listed);
  }
}
BENCHMARK(BM_inspector_first_hundred_reference)->Unit(benchmark::kMillisecond);

}  // namespace
