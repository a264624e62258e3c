// What the live view parses of a request itself: the Authorization header (through the
// whole Digest check) and the video name of a /videos/ path. Random bytes are never a
// login, a parsed header keeps every field within its bound, and a name taken is one that
// the program's own naming makes (with or without a same-name number).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "capture/live_view_login.h"
#include "capture/video_name.h"

namespace {

const talvex::DigestAccount kAccount{"cam", "Talvex 0011223344556677",
                                     "00112233445566778899aabbccddeeff"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  talvex::DigestCredentials c;
  if (talvex::parse_digest_authorization(bytes, c)) {
    for (const std::string* field : {&c.username, &c.realm, &c.nonce, &c.uri, &c.response,
                                     &c.algorithm, &c.qop, &c.nc, &c.cnonce, &c.opaque}) {
      if (field->size() > talvex::kDigestFieldLimit) std::abort();
    }
  }
  static talvex::DigestLogin login("fuzz", talvex::DigestLogin::Clock::now());
  const auto verdict = login.check(bytes, "GET", "/", kAccount, talvex::DigestLogin::Clock::now());
  if (verdict == talvex::DigestLogin::Verdict::kGranted ||
      verdict == talvex::DigestLogin::Verdict::kStale) {
    std::abort();
  }

  talvex::CalendarTime start, end;
  if (talvex::parse_video_file_name(bytes, start, end)) {
    const std::string own = talvex::format_video_file_name(start, end);
    const std::size_t stem = own.size() - 4;  // without ".avi"
    if (bytes.compare(0, stem, own, 0, stem) != 0 || bytes.size() < own.size() ||
        bytes.compare(bytes.size() - 4, 4, ".avi") != 0) {
      std::abort();
    }
    if (bytes.size() > own.size() && bytes[stem] != '_') std::abort();
  }
  return 0;
}
