#include "platform/digest.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include "wardex/crashlog.h"

namespace wardex::platform {
namespace {

// MD5 from OpenSSL's default (non-FIPS) provider in a library context of our
// own: a FIPS or base-only configuration of the process's default context
// offers no MD5, and loading the default provider there would open every
// non-approved algorithm to the rest of the process. The identifier is no
// security digest; it only has to be MD5. Null when it cannot be had, which
// is logged once.
const EVP_MD* NonFipsMd5() {
  static const EVP_MD* const md5 = [] {
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    const EVP_MD* fetched = nullptr;
    if (context != nullptr && OSSL_PROVIDER_load(context, "default") != nullptr) {
      fetched = EVP_MD_fetch(context, "MD5", "provider=default");
    }
    if (fetched == nullptr) {
      char reason[256] = "no library context";
      if (const unsigned long error = ERR_get_error(); error != 0) {
        ERR_error_string_n(error, reason, sizeof(reason));
      }
      LogW(kLogError, u"Md5Hex: MD5 is not available from OpenSSL's default provider: %S", reason);
    }
    // Context, provider and digest live as long as the process.
    return fetched;
  }();
  return md5;
}

}  // namespace

std::string Md5Hex(const std::string& data) {
  static constexpr char kHex[] = "0123456789abcdef";
  const EVP_MD* md5 = NonFipsMd5();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (md5 == nullptr || EVP_Digest(data.data(), data.size(), digest, &length, md5, nullptr) != 1) {
    return {};
  }
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xF];
  }
  return hex;
}

}  // namespace wardex::platform
