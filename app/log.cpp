#include "app/log.h"

#include <cstring>

#include "app/version.h"
#include "common/message_catalogue.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

constexpr std::size_t kLineBufferSize = 512;
constexpr char kSeparator[] = "************************************************\n";

// Which Log is the program's, if any. Held while a call uses it, so that the log cannot end
// under an entry. Constant-initialised, so it is there for every caller, also at exit.
std::mutex program_log_lock;  // guards program_log
Log* program_log = nullptr;

}  // namespace

void Log::open(const char* file_name) {
  std::lock_guard<std::mutex> lock(stream_lock_);
  if (stream_) return;
  stream_ = system_calls().open_file(file_name, "a");
  if (!stream_) return;
  // Unbuffered: every line goes to the file whole or not at all, nothing lingers.
  std::setvbuf(stream_, nullptr, _IONBF, 0);
  write_line(kSeparator);
  char line[kLineBufferSize];
  const CalendarTime t = system_calls().local_time();
  std::snprintf(line, sizeof line, "%d-%d-%d %d:%d:%d %s v%s [I]\n", t.year, t.month, t.day, t.hour,
                t.minute, t.second, TALVEX_PROGRAM_CAPTION, TALVEX_VERSION_TEXT);
  write_line(line);
}

bool Log::message(int number) {
  // Format outside the lock; only the write is shared.
  char line[kLineBufferSize];
  const CalendarTime t = system_calls().local_time();
  std::snprintf(line, sizeof line, "%d-%d-%d %d:%d:%d %s\n", t.year, t.month, t.day, t.hour,
                t.minute, t.second, message_text(number));
  std::lock_guard<std::mutex> lock(stream_lock_);
  return stream_ && write_line(line);
}

void Log::close() {
  std::lock_guard<std::mutex> lock(stream_lock_);
  if (!stream_) return;
  char line[kLineBufferSize];
  const CalendarTime t = system_calls().local_time();
  std::snprintf(line, sizeof line, "%d-%d-%d %d:%d:%d %s v%s [T]\n", t.year, t.month, t.day, t.hour,
                t.minute, t.second, TALVEX_PROGRAM_CAPTION, TALVEX_VERSION_TEXT);
  write_line(line);
  write_line(kSeparator);
  system_calls().close_file(stream_);
  stream_ = nullptr;
}

void Log::abandon() {
  std::lock_guard<std::mutex> lock(stream_lock_);
  if (!stream_) return;
  system_calls().close_file(stream_);
  stream_ = nullptr;
}

bool Log::is_open() {
  std::lock_guard<std::mutex> lock(stream_lock_);
  return stream_ != nullptr;
}

bool Log::write_line(const char* line) {
  const std::size_t n = std::strlen(line);
  bool ok = system_calls().write_file(line, n, stream_) == n;
  ok = std::fflush(stream_) == 0 && ok;
  // A refused write (a full disk) is not held back in the stream to come out later.
  if (!ok) std::clearerr(stream_);
  return ok;
}

ProgramLog::ProgramLog() {
  std::lock_guard<std::mutex> lock(program_log_lock);
  program_log = &log_;
}

ProgramLog::~ProgramLog() {
  std::lock_guard<std::mutex> lock(program_log_lock);
  if (program_log == &log_) program_log = nullptr;
}

void log_open(const char* file_name) {
  std::lock_guard<std::mutex> lock(program_log_lock);
  if (program_log) program_log->open(file_name);
}

void log_message(int number) {
  std::lock_guard<std::mutex> lock(program_log_lock);
  if (program_log) program_log->message(number);
}

bool log_entry_written(int number) {
  std::lock_guard<std::mutex> lock(program_log_lock);
  return program_log && program_log->message(number);
}

void log_close() {
  std::lock_guard<std::mutex> lock(program_log_lock);
  if (program_log) program_log->close();
}

}  // namespace talvex
