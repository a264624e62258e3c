#include "capture/live_view_login.h"

#include <cstdio>
#include <utility>

#include "common/digest.h"

namespace talvex {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool is_token_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

bool is_hex(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Compares without stopping at the first difference, so that the time taken tells nothing.
bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

std::string* field_of(DigestCredentials& c, std::string_view key) {
  struct Field {
    const char* name;
    std::string DigestCredentials::*member;
  };
  static constexpr Field kFields[] = {
      {"username", &DigestCredentials::username}, {"realm", &DigestCredentials::realm},
      {"nonce", &DigestCredentials::nonce},       {"uri", &DigestCredentials::uri},
      {"response", &DigestCredentials::response}, {"algorithm", &DigestCredentials::algorithm},
      {"qop", &DigestCredentials::qop},           {"nc", &DigestCredentials::nc},
      {"cnonce", &DigestCredentials::cnonce},     {"opaque", &DigestCredentials::opaque},
  };
  for (const Field& f : kFields) {
    if (same_word(key, f.name)) return &(c.*f.member);
  }
  return nullptr;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A nonce: its second of issue since the server's start, its serial number (so that two
// clients of one second never share a nonce and its counts), and their MAC.
constexpr std::size_t kSecondsDigits = 8;
constexpr std::size_t kSerialDigits = 8;
constexpr std::size_t kNonceLength = kSecondsDigits + kSerialDigits + 32;
// Nonce counts remembered per nonce, behind the highest one taken.
constexpr std::uint32_t kCountWindow = 64;
constexpr std::size_t kNoncesRemembered = 1024;
constexpr std::size_t kAddressesRemembered = 4096;

}  // namespace

bool parse_digest_authorization(std::string_view header, DigestCredentials& out) {
  out = DigestCredentials{};
  std::size_t i = 0;
  auto skip_spaces = [&] {
    while (i < header.size() && is_space(header[i])) ++i;
  };
  skip_spaces();
  constexpr std::string_view kScheme = "Digest";
  if (header.size() - i < kScheme.size() + 1 ||
      !same_word(header.substr(i, kScheme.size()), kScheme) ||
      !is_space(header[i + kScheme.size()])) {
    return false;
  }
  i += kScheme.size();
  bool any = false;
  unsigned seen = 0;  // the fields given so far, in seen_fields
  std::string* seen_fields[16] = {};
  for (;;) {
    skip_spaces();
    if (i == header.size()) break;
    const std::size_t key_start = i;
    while (i < header.size() && is_token_char(header[i])) ++i;
    const std::string_view key = header.substr(key_start, i - key_start);
    if (key.empty()) return false;
    skip_spaces();
    if (i == header.size() || header[i] != '=') return false;
    ++i;
    skip_spaces();
    std::string value;
    if (i < header.size() && header[i] == '"') {
      ++i;
      bool closed = false;
      while (i < header.size()) {
        char c = header[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i == header.size()) return false;
          c = header[i++];
        }
        if (value.size() == kDigestFieldLimit) return false;
        value += c;
      }
      if (!closed) return false;
    } else {
      while (i < header.size() && header[i] != ',' && !is_space(header[i])) {
        if (value.size() == kDigestFieldLimit) return false;
        value += header[i++];
      }
    }
    if (std::string* field = field_of(out, key)) {
      for (unsigned k = 0; k < seen; ++k) {
        if (seen_fields[k] == field) return false;  // given twice
      }
      if (seen < std::size(seen_fields)) seen_fields[seen++] = field;
      *field = std::move(value);
    }
    any = true;
    skip_spaces();
    if (i == header.size()) break;
    if (header[i] != ',') return false;
    ++i;
  }
  return any;
}

std::string digest_response(std::string_view ha1, std::string_view method, std::string_view uri,
                            std::string_view nonce, std::string_view nc, std::string_view cnonce,
                            std::string_view qop) {
  const std::string ha2 = md5_hex(std::string(method) + ":" + std::string(uri));
  std::string text(ha1);
  text.append(":").append(nonce).append(":").append(nc).append(":").append(cnonce);
  text.append(":").append(qop).append(":").append(ha2);
  return md5_hex(text);
}

DigestLogin::DigestLogin(std::string secret, Clock::time_point start)
    : secret_(std::move(secret)), opaque_(md5_hex(secret_ + ":opaque")), start_(start) {}

std::string DigestLogin::nonce_at(std::uint32_t seconds, std::uint32_t serial) const {
  char issued[kSecondsDigits + kSerialDigits + 1];
  std::snprintf(issued, sizeof issued, "%08x%08x", static_cast<unsigned>(seconds),
                static_cast<unsigned>(serial));
  return std::string(issued) + md5_hex(secret_ + ":" + issued);
}

std::string DigestLogin::challenge(const DigestAccount& account, bool stale,
                                   Clock::time_point now) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
  std::string value =
      "Digest realm=" + quoted(account.realm) + ", qop=\"auth\", algorithm=MD5, nonce=\"" +
      nonce_at(static_cast<std::uint32_t>(seconds), ++serial_) + "\", opaque=\"" + opaque_ + "\"";
  if (stale) value += ", stale=true";
  return value;
}

DigestLogin::Verdict DigestLogin::check(std::string_view authorization, std::string_view method,
                                        std::string_view uri, const DigestAccount& account,
                                        Clock::time_point now, const HeaderView* header_view) {
  if (authorization.empty()) return Verdict::kNoCredentials;
  DigestCredentials c;
  if (!parse_digest_authorization(authorization, c)) return Verdict::kRefused;
  if (account.user.empty() || account.password_digest.empty()) return Verdict::kRefused;
  const std::string_view user_in_header = header_view ? header_view->user : account.user;
  const std::string_view uri_in_header = header_view ? header_view->uri : uri;
  if (c.username != user_in_header || c.realm != account.realm || c.uri != uri_in_header) {
    return Verdict::kRefused;
  }
  if (!c.algorithm.empty() && !same_word(c.algorithm, "MD5")) return Verdict::kRefused;
  if (c.qop != "auth" || c.cnonce.empty() || c.nc.size() != 8 || !is_hex(c.nc)) {
    return Verdict::kRefused;
  }
  // Only a nonce of this run: its time of issue under the run's MAC.
  if (c.nonce.size() != kNonceLength || !is_hex(c.nonce)) return Verdict::kRefused;
  const std::uint32_t issued =
      static_cast<std::uint32_t>(std::stoul(c.nonce.substr(0, kSecondsDigits), nullptr, 16));
  const std::uint32_t serial = static_cast<std::uint32_t>(
      std::stoul(c.nonce.substr(kSecondsDigits, kSerialDigits), nullptr, 16));
  if (!same_secret(c.nonce, nonce_at(issued, serial))) return Verdict::kRefused;
  const std::string expected =
      digest_response(account.password_digest, method, uri, c.nonce, c.nc, c.cnonce, c.qop);
  if (!same_secret(c.response, expected)) return Verdict::kRefused;
  // The login is right from here on; an old nonce only asks the browser for a new one.
  const auto age = now - (start_ + std::chrono::seconds(issued));
  if (age > kNonceLifetime) return Verdict::kStale;
  if (age < std::chrono::seconds(0)) return Verdict::kRefused;
  const std::uint32_t count = static_cast<std::uint32_t>(std::stoul(c.nc, nullptr, 16));
  const auto seconds_now = std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
  {
    std::lock_guard<std::mutex> lock(seen_counts_lock_);
    // Nonces that expired are forgotten; past the bound, the oldest too.
    for (auto it = seen_counts_.begin(); it != seen_counts_.end();) {
      if (seconds_now - static_cast<long long>(it->second.issued) >
          static_cast<long long>(kNonceLifetime.count())) {
        it = seen_counts_.erase(it);
      } else {
        ++it;
      }
    }
    while (seen_counts_.size() >= kNoncesRemembered && !seen_counts_.count(c.nonce)) {
      auto oldest = seen_counts_.begin();
      for (auto it = seen_counts_.begin(); it != seen_counts_.end(); ++it) {
        if (it->second.issued < oldest->second.issued) oldest = it;
      }
      seen_counts_.erase(oldest);
    }
  }
  return take_count(c.nonce, issued, count) ? Verdict::kGranted : Verdict::kRefused;
}

bool DigestLogin::take_count(const std::string& nonce, std::uint32_t issued, std::uint32_t count) {
  std::lock_guard<std::mutex> lock(seen_counts_lock_);
  SeenCounts& seen = seen_counts_[nonce];
  seen.issued = issued;
  if (count == 0) return false;
  if (count > seen.highest) {
    const std::uint32_t shift = count - seen.highest;
    seen.window = shift >= kCountWindow ? 0 : seen.window << shift;
    seen.window |= 1;
    seen.highest = count;
    return true;
  }
  const std::uint32_t behind = seen.highest - count;
  if (behind >= kCountWindow) return false;
  const std::uint64_t bit = std::uint64_t{1} << behind;
  if (seen.window & bit) return false;
  seen.window |= bit;
  return true;
}

std::chrono::milliseconds LoginThrottle::failed(const std::string& address) {
  std::lock_guard<std::mutex> lock(failures_lock_);
  if (failures_.size() >= kAddressesRemembered && !failures_.count(address)) failures_.clear();
  const int count = ++failures_[address];
  return count > kFreeFailures ? std::chrono::milliseconds(kDelay) : std::chrono::milliseconds(0);
}

void LoginThrottle::succeeded(const std::string& address) {
  std::lock_guard<std::mutex> lock(failures_lock_);
  failures_.erase(address);
}

}  // namespace talvex
