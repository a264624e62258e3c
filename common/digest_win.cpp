#include <windows.h>

#include <bcrypt.h>

#include "common/digest.h"

namespace talvex {
namespace {

constexpr bool succeeded(NTSTATUS status) { return status >= 0; }

// One algorithm provider, closed when it leaves scope.
class AlgorithmProvider {
 public:
  explicit AlgorithmProvider(const wchar_t* algorithm) {
    if (!succeeded(::BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) {
      handle_ = nullptr;
    }
  }
  ~AlgorithmProvider() {
    if (handle_) ::BCryptCloseAlgorithmProvider(handle_, 0);
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
 public:
  explicit Hash(BCRYPT_ALG_HANDLE algorithm) {
    if (!algorithm ||
        !succeeded(::BCryptCreateHash(algorithm, &handle_, nullptr, 0, nullptr, 0, 0))) {
      handle_ = nullptr;
    }
  }
  ~Hash() {
    if (handle_) ::BCryptDestroyHash(handle_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

std::string md5_hex(std::string_view bytes) {
  AlgorithmProvider md5(BCRYPT_MD5_ALGORITHM);
  Hash hash(md5.get());
  if (!hash.get()) return {};
  constexpr ULONG kDigestSize = 16;
  UCHAR digest[kDigestSize];
  auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
  if (!succeeded(::BCryptHashData(hash.get(), data, static_cast<ULONG>(bytes.size()), 0)) ||
      !succeeded(::BCryptFinishHash(hash.get(), digest, kDigestSize, 0))) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (UCHAR byte : digest) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

bool random_bytes(void* out, std::size_t size) {
  return succeeded(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size),
                                     BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace talvex
