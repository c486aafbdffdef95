#include "platform/digest.h"

#include <algorithm>

#include "platform/windows_api.h"
#include "wardex/crashlog.h"

namespace wardex::platform {
namespace {

constexpr ULONG kMd5Bytes = 16;

// The system's MD5 provider, opened once for the process and kept; null
// when it cannot be had, which is logged once.
BCRYPT_ALG_HANDLE Md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (const NTSTATUS status =
            BCryptOpenAlgorithmProvider(&opened, BCRYPT_MD5_ALGORITHM, nullptr, 0);
        status < 0) {
      LogW(kLogError, u"Md5Hex: the system offers no MD5 provider (status 0x%08lX)",
           static_cast<unsigned long>(status));
      return BCRYPT_ALG_HANDLE{nullptr};
    }
    return opened;
  }();
  return provider;
}

}  // namespace

// The hash-object calls rather than BCryptHash, which Windows 10 brought.
std::string Md5Hex(const std::string& data) {
  static constexpr char kHex[] = "0123456789abcdef";
  const BCRYPT_ALG_HANDLE provider = Md5Provider();
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (provider == nullptr || BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) < 0) {
    return {};
  }
  UCHAR digest[kMd5Bytes];
  // BCryptHashData takes 32-bit sizes.
  bool hashed = true;
  for (size_t at = 0; hashed && at < data.size(); at += 1u << 30) {
    const size_t chunk = std::min<size_t>(data.size() - at, 1u << 30);
    hashed = BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + at)),
                            static_cast<ULONG>(chunk), 0) >= 0;
  }
  hashed = hashed && BCryptFinishHash(hash, digest, kMd5Bytes, 0) >= 0;
  BCryptDestroyHash(hash);
  if (!hashed) return {};
  std::string hex;
  for (UCHAR byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0xF];
  }
  return hex;
}

}  // namespace wardex::platform
