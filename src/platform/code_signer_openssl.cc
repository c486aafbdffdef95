// Signing with OpenSSL's CMS code: a detached SignedData, SHA-256, the
// signer's certificate and any intermediates included.
#include "platform/appended_signature.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>

#include "platform/openssl_util_internal.h"

namespace wardex::platform {

namespace {

// The last OpenSSL error as text, or |fallback|.
std::string OpenSslError(const char* fallback) {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return std::string(fallback) + " (" + text + ")";
}

// Every certificate of |pem| (none for empty text).
openssl::CertStackPtr ReadCertificates(const std::string& pem) {
  openssl::CertStackPtr certs(sk_X509_new_null());
  openssl::BioPtr bio = openssl::MemoryBio(pem);
  while (bio && certs) {
    X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (cert == nullptr) break;
    sk_X509_push(certs.get(), cert);
  }
  ERR_clear_error();
  return certs;
}

// The DER signature of |content|, or nothing with |error| set.
std::optional<std::string> SignContent(const std::string& content, const SignerCredentials& signer,
                                       std::string& error) {
  openssl::BioPtr key_bio = openssl::MemoryBio(signer.key_pem);
  openssl::KeyPtr key(PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    error = OpenSslError("cannot read the private key");
    return std::nullopt;
  }
  openssl::BioPtr cert_bio = openssl::MemoryBio(signer.certificate_pem);
  openssl::CertPtr cert(PEM_read_bio_X509(cert_bio.get(), nullptr, nullptr, nullptr));
  if (!cert) {
    error = OpenSslError("cannot read the certificate");
    return std::nullopt;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    error = OpenSslError("the private key does not belong to the certificate");
    return std::nullopt;
  }
  openssl::CertStackPtr chain = ReadCertificates(signer.chain_pem);
  openssl::BioPtr data = openssl::MemoryBio(content);
  openssl::CmsPtr cms(CMS_sign(cert.get(), key.get(), chain.get(), data.get(),
                               CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP));
  unsigned char* der = nullptr;
  const int size = cms ? i2d_CMS_ContentInfo(cms.get(), &der) : -1;
  if (size <= 0) {
    error = OpenSslError("signing failed");
    return std::nullopt;
  }
  std::string signature(reinterpret_cast<const char*>(der), static_cast<size_t>(size));
  OPENSSL_free(der);
  if (signature.size() > kMaxSignatureSize) {
    error = "the signature is too large (too many certificates?)";
    return std::nullopt;
  }
  return signature;
}

}  // namespace

std::string StripSignature(const std::string& file) {
  if (file.size() < kSignatureTrailerSize) return file;
  const auto* tail =
      reinterpret_cast<const uint8_t*>(file.data() + file.size() - kSignatureTrailerSize);
  const std::optional<SignatureLayout> layout =
      ParseSignatureTrailer(tail, kSignatureTrailerSize, file.size());
  return layout ? file.substr(0, layout->content_size) : file;
}

bool SignImage(const std::string& file, const SignerCredentials& signer, std::string& signed_file,
               std::string& error) {
  std::string content = StripSignature(file);
  const std::optional<std::string> signature = SignContent(content, signer, error);
  if (!signature) return false;
  signed_file = std::move(content);
  signed_file += *signature;
  signed_file += MakeSignatureTrailer(static_cast<uint32_t>(signature->size()));
  return true;
}

}  // namespace wardex::platform
