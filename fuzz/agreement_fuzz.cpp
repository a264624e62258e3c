// Any bytes as "LICENSE.txt": the reader stays inside its buffer, turns every line feed
// into a carriage return and line feed, and never leaves a lone carriage return at a cut.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "installer/agreement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  std::FILE* file = ::fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (!file) std::abort();
  const std::string text = talvex::inst::read_agreement(file);
  std::fclose(file);

  if (text.size() > talvex::inst::kAgreementMaxLength) std::abort();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) std::abort();
    if (text[i] == '\0') std::abort();
  }
  return 0;
}
