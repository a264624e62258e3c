#include <windows.h>

#include <cstdio>

#include "common/system_calls.h"

namespace talvex {
namespace {

CalendarTime from_systemtime(const SYSTEMTIME& t) {
  CalendarTime c;
  c.year = t.wYear;
  c.month = t.wMonth;
  c.day = t.wDay;
  c.hour = t.wHour;
  c.minute = t.wMinute;
  c.second = t.wSecond;
  c.milliseconds = t.wMilliseconds;
  return c;
}

CalendarTime local_time() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return from_systemtime(t);
}

CalendarTime utc_time() {
  SYSTEMTIME t;
  ::GetSystemTime(&t);
  return from_systemtime(t);
}

std::string current_directory(std::size_t limit) {
  char buffer[MAX_PATH + 1];
  if (limit > sizeof buffer) limit = sizeof buffer;
  DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(limit), buffer);
  // 0 is a failure; n >= limit is the size the path would need.
  if (n == 0 || n >= limit) return std::string();
  return std::string(buffer, n);
}

bool set_current_directory(const char* path) { return ::SetCurrentDirectoryA(path) != FALSE; }

std::FILE* open_file(const char* name, const char* mode) { return std::fopen(name, mode); }

std::size_t write_file(const void* data, std::size_t size, std::FILE* file) {
  return std::fwrite(data, 1, size, file);
}

int close_file(std::FILE* file) { return std::fclose(file); }

bool replace_file(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool remove_file(const char* name) { return ::DeleteFileA(name) != FALSE; }

bool copy_file(const char* from, const char* to) { return ::CopyFileA(from, to, FALSE) != FALSE; }

}  // namespace

const SystemCalls& default_system_calls() {
  static const SystemCalls table{local_time,  utc_time,   current_directory, set_current_directory,
                                 open_file,   write_file, close_file,        replace_file,
                                 remove_file, copy_file};
  return table;
}

}  // namespace talvex
