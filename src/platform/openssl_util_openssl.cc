#include "platform/openssl_util_internal.h"

namespace wardex::platform::openssl {

void FreeCertificates(STACK_OF(X509) * certs) { sk_X509_pop_free(certs, X509_free); }

BioPtr MemoryBio(const void* data, size_t size) {
  return BioPtr(BIO_new_mem_buf(data, static_cast<int>(size)));
}

BioPtr MemoryBio(const std::string& text) { return MemoryBio(text.data(), text.size()); }

}  // namespace wardex::platform::openssl
