#include <unistd.h>

#include <sys/time.h>
#include <cstdio>
#include <ctime>

#include "common/system_calls.h"

namespace talvex {
namespace {

CalendarTime from_tm(const std::tm& t, long microseconds) {
  CalendarTime c;
  c.year = t.tm_year + 1900;
  c.month = t.tm_mon + 1;
  c.day = t.tm_mday;
  c.hour = t.tm_hour;
  c.minute = t.tm_min;
  c.second = t.tm_sec;
  c.milliseconds = static_cast<int>(microseconds / 1000);
  return c;
}

CalendarTime local_time() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::tm t{};
  ::localtime_r(&now.tv_sec, &t);
  return from_tm(t, now.tv_usec);
}

CalendarTime utc_time() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::tm t{};
  ::gmtime_r(&now.tv_sec, &t);
  return from_tm(t, now.tv_usec);
}

std::string current_directory(std::size_t limit) {
  char buffer[4096];
  if (!::getcwd(buffer, sizeof buffer)) return std::string();
  std::string path(buffer);
  if (path.size() + 1 > limit) return std::string();
  return path;
}

bool set_current_directory(const char* path) { return ::chdir(path) == 0; }

std::FILE* open_file(const char* name, const char* mode) { return std::fopen(name, mode); }

std::size_t write_file(const void* data, std::size_t size, std::FILE* file) {
  return std::fwrite(data, 1, size, file);
}

int close_file(std::FILE* file) { return std::fclose(file); }

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool remove_file(const char* name) { return std::remove(name) == 0; }

bool copy_file(const char* from, const char* to) {
  std::FILE* in = std::fopen(from, "rb");
  if (!in) return false;
  std::FILE* out = std::fopen(to, "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  char buffer[1 << 16];
  bool ok = true;
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    ok = std::fwrite(buffer, 1, n, out) == n && ok;
  }
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  return std::fclose(out) == 0 && ok;
}

}  // namespace

const SystemCalls& default_system_calls() {
  static const SystemCalls table{local_time,  utc_time,   current_directory, set_current_directory,
                                 open_file,   write_file, close_file,        replace_file,
                                 remove_file, copy_file};
  return table;
}

}  // namespace talvex
