// Scoped owners of OpenSSL objects that the signing and the verifying code
// share. Internal to src/platform: it includes OpenSSL's headers, so only the
// *_openssl.cc files of this folder include it.
#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <memory>
#include <string>

namespace wardex::platform::openssl {

// Scoped owners: |Free| releases the object.
template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
void FreeCertificates(STACK_OF(X509) * certs);
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using CertStackPtr = std::unique_ptr<STACK_OF(X509), Deleter<FreeCertificates>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;

// A read-only memory BIO over |size| bytes at |data|, which must outlive it;
// null when OpenSSL cannot make one.
BioPtr MemoryBio(const void* data, size_t size);
BioPtr MemoryBio(const std::string& text);

}  // namespace wardex::platform::openssl
