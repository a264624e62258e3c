#include <windows.h>

#include <io.h>

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

std::size_t read_file(void* data, std::size_t size, std::FILE* file) {
  return std::fread(data, 1, size, file);
}

bool seek_file(std::FILE* file, std::uint64_t offset) {
  return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool flush_file(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != FALSE;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
bool rename_no_replace(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool file_status(const char* name, std::uint64_t& size, CalendarTime& last_write) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(name, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // The local time with the zone's offset at the moment of the write, not today's (which
  // FileTimeToLocalFileTime would take): a write before a change of the clock keeps the
  // offset it had.
  SYSTEMTIME utc, local;
  if (!::FileTimeToSystemTime(&data.ftLastWriteTime, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return false;
  }
  last_write = from_systemtime(local);
  return true;
}

bool truncate_file(std::FILE* file, std::uint64_t size) {
  return std::fflush(file) == 0 && ::_chsize_s(::_fileno(file), static_cast<long long>(size)) == 0;
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
