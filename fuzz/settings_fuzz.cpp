// Any bytes as "Talvex.cfg": the reader gives 54, 26 or 44 and a record that writes and
// reads back to the very same file text. The same bytes as the text of a number field of a
// dialog: the int scanner reads what strtoll reads, saturated to the int range.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "common/system_calls.h"

namespace {

talvex::CalendarTime fixed_time() { return talvex::CalendarTime{2006, 12, 25, 7, 5, 3, 0}; }
std::string fixed_directory(std::size_t) { return "C:\\Video Files"; }

int read_from_bytes(const void* data, std::size_t size, talvex::Settings& settings) {
  std::FILE* file = ::fmemopen(const_cast<void*>(data), size, "r");
  if (!file) std::abort();
  const int result = talvex::read_settings_from(file, settings);
  std::fclose(file);
  return result;
}

void check_int_scanner(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // cut at a first zero
  int value = 12345;
  const char* end = talvex::scan_int(text.c_str(), value);
  errno = 0;
  char* expected_end = nullptr;
  long long expected = std::strtoll(text.c_str(), &expected_end, 10);
  if (expected_end == text.c_str()) {
    if (end != nullptr || value != 12345) std::abort();
    return;
  }
  if (expected > INT_MAX) expected = INT_MAX;
  if (expected < INT_MIN) expected = INT_MIN;
  if (end != expected_end || value != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  talvex::SystemCalls& sys = talvex::system_calls();
  sys.utc_time = fixed_time;
  sys.local_time = fixed_time;
  sys.current_directory = fixed_directory;
  check_int_scanner(data, size);
  if (size == 0) return 0;  // fmemopen refuses an empty buffer; the empty file is a unit test

  talvex::Settings first;
  const int result = read_from_bytes(data, size, first);
  if (result != talvex::msg::kOk && result != talvex::msg::kConfigVersion &&
      result != talvex::msg::kConfigTerminator) {
    std::abort();
  }
  const std::string text = talvex::settings_file_text(first);
  talvex::Settings second;
  if (read_from_bytes(text.data(), text.size(), second) != talvex::msg::kOk) std::abort();
  if (talvex::settings_file_text(second) != text) std::abort();
  return 0;
}
