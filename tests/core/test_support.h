// Shared fixtures of the portable-core tests: a scratch directory made current for the
// test, and the system-call table restored after a test has swapped entries.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "common/system_calls.h"

namespace talvex::testing {

class ScopedSystemCalls {
 public:
  ScopedSystemCalls() : saved_(system_calls()) {}
  ~ScopedSystemCalls() { system_calls() = saved_; }
  SystemCalls* operator->() { return &system_calls(); }

 private:
  SystemCalls saved_;
};

// A fresh directory that is the current directory while the object lives.
class ScratchDirectory {
 public:
  ScratchDirectory() : previous_(std::filesystem::current_path()) {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("talvex_test_" + std::to_string(seed()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  static inline std::atomic<int> counter_{0};
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

inline std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The local and UTC clocks fixed at 2006-12-25 07:05:03 (second changeable).
inline int fixed_second = 3;
inline CalendarTime fixed_time() { return CalendarTime{2006, 12, 25, 7, 5, fixed_second, 0}; }

}  // namespace talvex::testing

namespace talvex::testing {

// A file read in text mode: the platform's line ends come back as '\n'.
inline std::string read_text(const std::filesystem::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace talvex::testing

namespace talvex::testing {

// Waits up to `seconds` for another thread to make `condition` true; its last answer.
template <typename Condition>
bool wait_until(Condition condition, int seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

}  // namespace talvex::testing
