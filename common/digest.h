// Hashing and randomness for logins, from the platform's own cryptography (BCrypt on
// Windows, OpenSSL's libcrypto elsewhere).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talvex {

// MD5 of the bytes, as 32 lower-case hex digits (what HTTP Digest authentication uses).
std::string md5_hex(std::string_view bytes);

// Fills `size` bytes from the system's random generator; false when it cannot.
bool random_bytes(void* out, std::size_t size);

}  // namespace talvex
