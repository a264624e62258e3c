#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
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

std::size_t read_file(void* data, std::size_t size, std::FILE* file) {
  return std::fread(data, 1, size, file);
}

bool seek_file(std::FILE* file, std::uint64_t offset) {
  return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool flush_file(std::FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

bool rename_no_replace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link fails as well when `to` exists.
  if (::link(from, to) != 0) return false;
  ::unlink(from);
  return true;
}

bool file_status(const char* name, std::uint64_t& size, CalendarTime& last_write) {
  struct stat st {};
  if (::stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  std::tm t{};
  ::localtime_r(&st.st_mtime, &t);
  last_write = from_tm(t, st.st_mtim.tv_nsec / 1000);
  return true;
}

bool truncate_file(std::FILE* file, std::uint64_t size) {
  return std::fflush(file) == 0 && ::ftruncate(::fileno(file), static_cast<off_t>(size)) == 0;
}

}  // namespace

const SystemCalls& default_system_calls() {
  static const SystemCalls table{
      local_time,  utc_time,          current_directory, set_current_directory,
      open_file,   write_file,        close_file,        replace_file,
      remove_file, copy_file,         read_file,         seek_file,
      flush_file,  rename_no_replace, file_status,       truncate_file};
  return table;
}

}  // namespace talvex
