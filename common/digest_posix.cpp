#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>

#include "common/digest.h"

namespace talvex {

std::string md5_hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!::EVP_Digest(bytes.data(), bytes.size(), digest, &length, ::EVP_md5(), nullptr)) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0F];
  }
  return out;
}

bool random_bytes(void* out, std::size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = ::getrandom(p, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace talvex
