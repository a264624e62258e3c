// Any bytes as "Talvex.cfg": the reader gives 54, 26 or 44 for line 2 and 54 or 49 for
// line 3, and a record that writes and reads back to the very same file text. Whatever
// follows line 2 changes nothing of line 2's result or fields, and the classic reader
// reads line 2 of every file written the same with line 3 as without it. The same bytes
// as the text of a number field of a dialog: the int scanner reads what strtoll reads,
// saturated to the int range.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "app/talvex_messages.h"
#include "common/system_calls.h"
#include "tests/core/classic_settings_reader.h"

namespace {

constexpr char kDirectory[] = "C:\\Video Files";
talvex::CalendarTime fixed_time() { return talvex::CalendarTime{2006, 12, 25, 7, 5, 3, 0}; }
std::string fixed_directory(std::size_t) { return kDirectory; }

std::FILE* open_bytes(const std::string& bytes) {
  std::FILE* file = ::fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  if (!file) std::abort();
  return file;
}

int read_from_bytes(const std::string& bytes, talvex::Settings& settings, int& events) {
  std::FILE* file = open_bytes(bytes);
  const int result = talvex::read_settings_from(file, settings, &events);
  std::fclose(file);
  return result;
}

talvex::testing::ClassicSettings classic_read(const std::string& bytes) {
  std::FILE* file = open_bytes(bytes);
  const talvex::testing::ClassicSettings s =
      talvex::testing::classic_read_settings(file, kDirectory);
  std::fclose(file);
  return s;
}

// The bytes the reader takes as lines 1 and 2: a line read of at most 510 bytes, then one
// of at most 1022, each through its line feed.
std::size_t end_of_line_2(const std::string& bytes) {
  std::size_t at = 0;
  for (std::size_t limit : {std::size_t{510}, std::size_t{1022}}) {
    const std::size_t start = at;
    while (at < bytes.size() && at - start < limit) {
      if (bytes[at++] == '\n') break;
    }
  }
  return at;
}

std::string two_lines_of(const std::string& file) {
  const std::size_t first = file.find('\n');
  const std::size_t second = first == std::string::npos ? first : file.find('\n', first + 1);
  return second == std::string::npos ? file : file.substr(0, second);
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
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  talvex::Settings first;
  int events = 0;
  const int result = read_from_bytes(bytes, first, events);
  if (result != talvex::msg::kOk && result != talvex::msg::kConfigVersion &&
      result != talvex::msg::kConfigTerminator) {
    std::abort();
  }
  if (events != talvex::msg::kOk && events != talvex::msg::kInvalidSetting) std::abort();
  const std::string text = talvex::settings_file_text(first);

  // Line 3 has no say in line 2.
  talvex::Settings without_line_3;
  int ignored = 0;
  if (read_from_bytes(bytes.substr(0, end_of_line_2(bytes)), without_line_3, ignored) != result ||
      two_lines_of(talvex::settings_file_text(without_line_3)) != two_lines_of(text)) {
    std::abort();
  }

  // What is written reads back whole, line 3 without a complaint.
  talvex::Settings second;
  if (read_from_bytes(text, second, events) != talvex::msg::kOk) std::abort();
  if (events != talvex::msg::kOk || talvex::settings_file_text(second) != text) std::abort();

  // The classic reader stops at line 2 of what is written.
  const std::string written_two_lines = two_lines_of(text);
  const talvex::testing::ClassicSettings classic = classic_read(text);
  if (!(classic == classic_read(written_two_lines))) std::abort();
  const std::size_t line_2_length = written_two_lines.size() - written_two_lines.find('\n') - 1;
  if (line_2_length <= 510 && !(classic == talvex::testing::classic_view(second))) std::abort();
  return 0;
}
