// The capture program's log "Talvex.log": appended to by every run, one dated line per
// entry. Both threads write it; each line is formatted first, written whole under the
// stream's lock and flushed at once, so a crash loses nothing already logged.
#pragma once

#include <cstdio>
#include <mutex>

namespace talvex {

class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log() { close(); }

  // Opens `file_name` for appending (text mode) and writes the separator and the start
  // record. When the file cannot be opened the log stays closed and nothing is said.
  void open(const char* file_name);
  // Writes one dated entry with the number's text; does nothing while the log is closed.
  // True when the whole entry reached the file.
  bool message(int number);
  // Writes the end record and the separator, then closes the file.
  void close();
  bool is_open();

 private:
  bool write_line(const char* line);  // caller holds stream_lock_

  std::mutex stream_lock_;  // guards stream_
  std::FILE* stream_ = nullptr;
};

// The process-wide log of the capture program.
Log& program_log();
inline void log_open(const char* file_name) { program_log().open(file_name); }
inline void log_message(int number) { program_log().message(number); }
// The same, telling whether the entry was written (a full disk refuses it).
inline bool log_entry_written(int number) { return program_log().message(number); }
inline void log_close() { program_log().close(); }

}  // namespace talvex
