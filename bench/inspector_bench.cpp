// The inspector's list of a folder of 20,000 videos in range: the newest hundred chosen out
// of all of them, side by side with the scan that kept the first hundred it met.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "inspector/video_list.h"

namespace {

std::vector<std::string> folder_names() {
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) {
    const int day = 1 + i / 1440, hour = (i / 60) % 24, minute = i % 60;
    char name[96];
    std::snprintf(name, sizeof name,
                  "Talvex_Camera_2026-%02d-%02d_%02d-%02d-00_2026-%02d-%02d_%02d-%02d-30.avi",
                  1 + (day - 1) / 28, 1 + (day - 1) % 28, hour, minute, 1 + (day - 1) / 28,
                  1 + (day - 1) % 28, hour, minute);
    names.push_back(name);
  }
  return names;
}

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
