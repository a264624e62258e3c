// Any bytes as "Talvex.cfg": the reader gives 54, 26 or 44 and a record that writes and
// reads back to the very same file text.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  talvex::SystemCalls& sys = talvex::system_calls();
  sys.utc_time = fixed_time;
  sys.local_time = fixed_time;
  sys.current_directory = fixed_directory;
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
