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
  // Closes a file still open without the end record: only close() writes it.
  ~Log() { abandon(); }

  // Opens `file_name` for appending (text mode) and writes the separator and the start
  // record. When the file cannot be opened the log stays closed and nothing is said.
  void open(const char* file_name);
  // Writes one dated entry with the number's text; does nothing while the log is closed.
  // True when the whole entry reached the file.
  bool message(int number);
  // Writes the end record and the separator, then closes the file.
  void close();
  // Closes the file as it stands, without the end record: a run that failed to start.
  void abandon();
  bool is_open();

 private:
  bool write_line(const char* line);  // caller holds stream_lock_

  std::mutex stream_lock_;  // guards stream_
  std::FILE* stream_ = nullptr;
};

// The log of the capture program's run. The run function keeps one for as long as it
// runs; while it lives, log_open, log_message and log_close act on its Log. Before and
// after, they do nothing, so a thread or a destructor that logs late writes nothing and
// never reaches a log that is gone. An entry under way when it ends is finished first.
// When the run ends without log_close (a start-up failure) the file ends without the end
// record.
class ProgramLog {
 public:
  ProgramLog();
  ~ProgramLog();
  ProgramLog(const ProgramLog&) = delete;
  ProgramLog& operator=(const ProgramLog&) = delete;

 private:
  Log log_;
};

void log_open(const char* file_name);
void log_message(int number);
void log_close();
// The same, telling whether the entry was written (a full disk refuses it).
bool log_entry_written(int number);

}  // namespace talvex
