// What the benchmarks share: a scratch folder made current, and the names of a folder of
// videos, one a minute from the start of 2026.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace talvex::bench {

// A fresh folder under the temporary directory, current while it lives.
class Folder {
 public:
  explicit Folder(const char* name) : path_(std::filesystem::temp_directory_path() / name) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

 private:
  std::filesystem::path path_;
};

// `count` names of 30 s videos, one a minute, 28 days a month.
inline std::vector<std::string> video_names(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
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

}  // namespace talvex::bench
