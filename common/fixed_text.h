// Fixed-size, NUL-terminated byte texts. The size counts the terminating NUL, as the
// record layouts of the programs do; assigning a longer text cuts it to fit.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace talvex {

template <std::size_t N>
class FixedText {
  static_assert(N >= 1, "a fixed text holds at least its terminator");

 public:
  static constexpr std::size_t kSize = N;
  static constexpr std::size_t kMaxLength = N - 1;

  FixedText() { text_[0] = '\0'; }
  FixedText(std::string_view s) { assign(s); }  // NOLINT: implicit on purpose
  FixedText(const char* s) { assign(s ? std::string_view(s) : std::string_view()); }

  FixedText& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  FixedText& operator=(const char* s) {
    assign(s ? std::string_view(s) : std::string_view());
    return *this;
  }

  // Copies at most N - 1 bytes and stops at an embedded NUL, so the text stays a C string.
  void assign(std::string_view s) {
    std::size_t n = s.size() < kMaxLength ? s.size() : kMaxLength;
    if (const void* nul = std::memchr(s.data(), '\0', n)) {
      n = static_cast<std::size_t>(static_cast<const char*>(nul) - s.data());
    }
    std::memmove(text_, s.data(), n);
    text_[n] = '\0';
  }

  const char* c_str() const { return text_; }
  // For platform calls that fill the buffer in place (at most kSize bytes).
  char* data() { return text_; }
  std::string_view view() const { return std::string_view(text_, length()); }
  std::string str() const { return std::string(view()); }
  std::size_t length() const { return ::strnlen(text_, N); }
  bool empty() const { return text_[0] == '\0'; }

  friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

 private:
  char text_[N];
};

}  // namespace talvex
