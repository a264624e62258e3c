// The few operating-system services that the portable core needs: clock, current
// directory and files. They are reached through one table so that tests can fix the time
// and the directory, or make a file operation fail, without touching the real system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace talvex {

// A calendar value as the system clock gives it (month 1-12, day 1-31).
struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

struct SystemCalls {
  CalendarTime (*local_time)();
  CalendarTime (*utc_time)();
  // The current directory, or an empty text when it cannot be had in `limit` bytes
  // (terminator included), as GetCurrentDirectoryA with that limit.
  std::string (*current_directory)(std::size_t limit);
  bool (*set_current_directory)(const char* path);
  std::FILE* (*open_file)(const char* name, const char* mode);
  std::size_t (*write_file)(const void* data, std::size_t size, std::FILE* file);
  int (*close_file)(std::FILE* file);
  // Replaces `to` by `from` in one step; `to` may exist.
  bool (*replace_file)(const char* from, const char* to);
  bool (*remove_file)(const char* name);
  // Copies `from` to `to`, replacing an existing `to`.
  bool (*copy_file)(const char* from, const char* to);
  std::size_t (*read_file)(void* data, std::size_t size, std::FILE* file);
  // Moves the stream to a byte offset from the start of its file.
  bool (*seek_file)(std::FILE* file, std::uint64_t offset);
  // Hands the stream's buffered bytes to the system and waits until the system has them
  // on the disk (fsync, FlushFileBuffers).
  bool (*flush_file)(std::FILE* file);
  // Gives `from` the name `to` only when no file has that name yet; false otherwise.
  bool (*rename_no_replace)(const char* from, const char* to);
  // The size and the local time of the last write of a file, with the offset from UTC that
  // the time zone had at that moment; false when it has none.
  bool (*file_status)(const char* name, std::uint64_t& size, CalendarTime& last_write);
  // Cuts the stream's file to `size` bytes (the stream's buffer handed over first).
  bool (*truncate_file)(std::FILE* file, std::uint64_t size);
};

// The process-wide table. Production code calls through it; tests swap entries.
SystemCalls& system_calls();
// The table as the platform provides it.
const SystemCalls& default_system_calls();

// Closes a stream opened through the table when it leaves scope.
class ScopedFile {
 public:
  ScopedFile() = default;
  explicit ScopedFile(std::FILE* f) : file_(f) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() { close(); }

  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // Closes now; returns false when the close reported an error.
  bool close() {
    if (!file_) return true;
    std::FILE* f = file_;
    file_ = nullptr;
    return system_calls().close_file(f) == 0;
  }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace talvex
