// The live view's login: HTTP Digest authentication (RFC 7616 with MD5 and qop=auth),
// which never sends the password. The server keeps only what the configuration keeps,
// MD5(user:realm:password); its nonces carry their time of issue and a MAC under a secret
// of the server's run, expire, and take each nonce count once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace talvex {

// The fields of an "Authorization: Digest ..." header.
struct DigestCredentials {
  std::string username;
  std::string realm;
  std::string nonce;
  std::string uri;
  std::string response;
  std::string algorithm;
  std::string qop;
  std::string nc;
  std::string cnonce;
  std::string opaque;
};

// The longest value of a field that is taken; a longer one refuses the header.
constexpr std::size_t kDigestFieldLimit = 512;

// Parses the header's value (from "Digest"); false for another scheme, a broken list, a
// field given twice or a value over the limit.
bool parse_digest_authorization(std::string_view header, DigestCredentials& out);

// The response a client computes (RFC 7616, MD5, qop=auth), from HA1 = MD5(user:realm:password).
std::string digest_response(std::string_view ha1, std::string_view method, std::string_view uri,
                            std::string_view nonce, std::string_view nc, std::string_view cnonce,
                            std::string_view qop);

// What the server knows of the login: the user and MD5(user:realm:password) in hex.
struct DigestAccount {
  std::string user;
  std::string realm;
  std::string password_digest;
};

class DigestLogin {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Verdict { kGranted, kNoCredentials, kRefused, kStale };

  // `secret` binds the nonces to this run of the server.
  DigestLogin(std::string secret, Clock::time_point start);

  // The WWW-Authenticate value of a 401: a fresh nonce; `stale` tells the browser that its
  // login was right but its nonce has expired, so it retries without asking the user.
  std::string challenge(const DigestAccount& account, bool stale, Clock::time_point now);

  // Checks a request's Authorization header (empty when it had none) for the request's
  // method and target. `header_view`, when given, is how the header's uri and username
  // read for the request and the account where the header reached us %-decoded (as the
  // HTTP library hands it over); the response is always checked over the target as sent.
  struct HeaderView {
    std::string uri;
    std::string user;
  };
  Verdict check(std::string_view authorization, std::string_view method, std::string_view uri,
                const DigestAccount& account, Clock::time_point now,
                const HeaderView* header_view = nullptr);

  // How long a nonce is taken.
  static constexpr std::chrono::seconds kNonceLifetime{300};

 private:
  std::string nonce_at(std::uint32_t seconds, std::uint32_t serial) const;
  // False when the nonce count was taken before (or is too far behind to tell).
  bool take_count(const std::string& nonce, std::uint32_t issued, std::uint32_t count);

  const std::string secret_;
  const std::string opaque_;
  const Clock::time_point start_;
  std::atomic<std::uint32_t> serial_{0};
  struct SeenCounts {
    std::uint32_t issued = 0;
    std::uint32_t highest = 0;
    std::uint64_t window = 0;  // bit i: highest - i was taken
  };
  std::mutex seen_counts_lock_;  // guards seen_counts_
  std::map<std::string, SeenCounts> seen_counts_;
};

// Failed logins of one address are slowed: after the first few, each one waits.
class LoginThrottle {
 public:
  static constexpr int kFreeFailures = 10;
  static constexpr std::chrono::seconds kDelay{1};

  // The wait before answering this address's failed login.
  std::chrono::milliseconds failed(const std::string& address);
  void succeeded(const std::string& address);

 private:
  std::mutex failures_lock_;  // guards failures_
  std::map<std::string, int> failures_;
};

}  // namespace talvex
