// Embedded library signatures, verified with OpenSSL's CMS and X.509 code.
#include "platform/code_signature.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/appended_signature.h"
#include "platform/library_loader.h"
#include "platform/openssl_util_internal.h"
#include "platform/posix_io_internal.h"
#include "platform/scoped_fd_posix.h"
#include "platform/system_paths_linux.h"

namespace wardex::platform {

struct TrustAnchors::Store {
  X509_STORE* store = X509_STORE_new();
  int count = 0;
  ~Store() { X509_STORE_free(store); }
};

namespace {

uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

// Returns the UTF-16 text of an ASN.1 string, or empty.
KaOSAL::KaString TextOf(const ASN1_STRING* value) {
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0) return {};
  const std::u16string text = KaOSAL::FromUtf8(reinterpret_cast<const char*>(utf8), length);
  OPENSSL_free(utf8);
  return KaOSAL::KaString(text.c_str(), static_cast<int>(text.size()));
}

// Returns the first subject entry of |nid|, or empty.
KaOSAL::KaString SubjectEntry(X509* cert, int nid) {
  const X509_NAME* subject = X509_get_subject_name(cert);
  const int index = X509_NAME_get_index_by_NID(subject, nid, -1);
  if (index < 0) return {};
  return TextOf(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
}

// Returns the first e-mail address of the subject alternative names, or empty.
KaOSAL::KaString AlternativeEmail(X509* cert) {
  openssl::GeneralNamesPtr names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
  if (!names) return {};
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    if (name->type == GEN_EMAIL) return TextOf(name->d.rfc822Name);
  }
  return {};
}

// The simple display name: common name, else organisational unit,
// organisation, e-mail address.
KaOSAL::KaString SimpleDisplayName(X509* cert) {
  for (int nid :
       {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    KaOSAL::KaString name = SubjectEntry(cert, nid);
    if (!name.IsEmpty()) return name;
  }
  return AlternativeEmail(cert);
}

// The first signer of a signature and its certificate, found among the
// signature's certificates by issuer and serial number (null when absent).
struct FirstSigner {
  CMS_SignerInfo* info = nullptr;
  X509* certificate = nullptr;
};

FirstSigner FindFirstSigner(CMS_ContentInfo* cms) {
  FirstSigner signer;
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  if (signers == nullptr || sk_CMS_SignerInfo_num(signers) < 1) return signer;
  CMS_set1_signers_certs(cms, nullptr, 0);
  signer.info = sk_CMS_SignerInfo_value(signers, 0);
  CMS_SignerInfo_get0_algs(signer.info, nullptr, &signer.certificate, nullptr, nullptr);
  ERR_clear_error();
  return signer;
}

// True when the signature algorithm named in the signer information is the
// one that its key and digest call for; the field is not covered by the
// signature itself.
bool SignatureAlgorithmFits(const FirstSigner& signer) {
  X509_ALGOR* digest = nullptr;
  X509_ALGOR* signature = nullptr;
  CMS_SignerInfo_get0_algs(signer.info, nullptr, nullptr, &digest, &signature);
  const ASN1_OBJECT* digest_object = nullptr;
  const ASN1_OBJECT* signature_object = nullptr;
  X509_ALGOR_get0(&digest_object, nullptr, nullptr, digest);
  X509_ALGOR_get0(&signature_object, nullptr, nullptr, signature);
  const int key_nid = EVP_PKEY_get_base_id(X509_get0_pubkey(signer.certificate));
  const int signature_nid = OBJ_obj2nid(signature_object);
  int digest_nid = NID_undef;
  int pkey_nid = NID_undef;
  if (OBJ_find_sigid_algs(signature_nid, &digest_nid, &pkey_nid) == 1) {
    return digest_nid == OBJ_obj2nid(digest_object) && pkey_nid == key_nid;
  }
  return signature_nid == key_nid;  // a bare key algorithm, as CMS writes for RSA
}

// One DER element: where its content starts, how long it is, what it is.
struct Element {
  const unsigned char* content = nullptr;
  long length = 0;
  int tag = 0;
  int tag_class = 0;
};

// Reads the element at |cursor| (which moves past it); false on bad DER.
bool ReadElement(const unsigned char*& cursor, const unsigned char* end, Element& out) {
  const unsigned char* content = cursor;
  long length = 0;
  int tag = 0;
  int tag_class = 0;
  if ((ASN1_get_object(&content, &length, &tag, &tag_class, end - cursor) & 0x80) != 0 ||
      length > end - content) {
    return false;
  }
  out = {content, length, tag, tag_class};
  cursor = content + length;
  return true;
}

bool IsVersionOne(const Element& element) {
  return element.tag == V_ASN1_INTEGER && element.tag_class == V_ASN1_UNIVERSAL &&
         element.length == 1 && element.content[0] == 1;
}

// True when OpenSSL can compute the digest that the DER AlgorithmIdentifier
// |algorithm| names, looked up the way CMS_verify looks it up.
bool DigestIsUsable(const Element& algorithm) {
  const unsigned char* cursor = algorithm.content;
  const unsigned char* const oid_start = cursor;
  Element oid;
  if (!ReadElement(cursor, algorithm.content + algorithm.length, oid) || oid.tag != V_ASN1_OBJECT) {
    return false;
  }
  const unsigned char* der = oid_start;
  ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &der, cursor - oid_start);
  const int nid = OBJ_obj2nid(object);
  ASN1_OBJECT_free(object);
  if (nid == NID_undef) return false;
  const char* name = OBJ_nid2sn(nid);
  EVP_MD* fetched = EVP_MD_fetch(nullptr, name, nullptr);
  const EVP_MD* digest = fetched != nullptr ? fetched : EVP_get_digestbyname(name);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const bool usable =
      digest != nullptr && context != nullptr && EVP_DigestInit_ex(context, digest, nullptr) == 1;
  EVP_MD_CTX_free(context);
  EVP_MD_free(fetched);
  return usable;
}

bool SameBytes(const Element& a, const Element& b) {
  return a.tag == b.tag && a.length == b.length && std::memcmp(a.content, b.content, a.length) == 0;
}

// True when the SignedData's fields that no signature covers are as written
// here: version 1 for SignedData and every SignerInfo (issuer and serial
// number, plain data), and a digest algorithm list that holds exactly the
// signers' own digests, each one OpenSSL can compute. No library checks the
// versions; and CMS_verify leaks its copy of the content when a listed digest
// cannot be set up, so such a list must be refused before it.
bool UnsignedFieldsAreSound(const uint8_t* der, size_t size) {
  const unsigned char* cursor = der;
  Element content_info, type, explicit_content, signed_data, version, digests;
  if (!ReadElement(cursor, der + size, content_info)) return false;
  cursor = content_info.content;
  const unsigned char* end = cursor + content_info.length;
  if (!ReadElement(cursor, end, type) || !ReadElement(cursor, end, explicit_content)) return false;
  cursor = explicit_content.content;
  if (!ReadElement(cursor, cursor + explicit_content.length, signed_data)) return false;
  cursor = signed_data.content;
  end = cursor + signed_data.length;
  if (!ReadElement(cursor, end, version) || !IsVersionOne(version) ||
      !ReadElement(cursor, end, digests) || digests.tag != V_ASN1_SET) {
    return false;
  }
  Element last;
  while (cursor < end) {
    if (!ReadElement(cursor, end, last)) return false;
  }
  if (last.tag != V_ASN1_SET) return false;
  // The signers' digests, in order; the list must be the same.
  const unsigned char* listed = digests.content;
  const unsigned char* const listed_end = listed + digests.length;
  cursor = last.content;
  end = cursor + last.length;
  while (cursor < end) {
    Element signer_info, signer_version, signer_id, signer_digest, listed_digest;
    if (!ReadElement(cursor, end, signer_info)) return false;
    const unsigned char* inner = signer_info.content;
    const unsigned char* const inner_end = inner + signer_info.length;
    if (!ReadElement(inner, inner_end, signer_version) || !IsVersionOne(signer_version) ||
        !ReadElement(inner, inner_end, signer_id) ||
        !ReadElement(inner, inner_end, signer_digest) ||
        !ReadElement(listed, listed_end, listed_digest) ||
        !SameBytes(signer_digest, listed_digest) || !DigestIsUsable(listed_digest)) {
      return false;
    }
  }
  return listed == listed_end;
}

// Parses DER that must be a detached SignedData encoded exactly as given.
openssl::CmsPtr ParseDetachedSignature(const uint8_t* der, size_t size) {
  const unsigned char* cursor = der;
  openssl::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(size)));
  if (!cms || cursor != der + size || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
      CMS_is_detached(cms.get()) != 1 ||
      OBJ_obj2nid(CMS_get0_eContentType(cms.get())) != NID_pkcs7_data ||
      !UnsignedFieldsAreSound(der, size)) {
    return nullptr;
  }
  // Only the canonical encoding is accepted, so no byte of the signature can
  // change without the parse or the verification noticing.
  unsigned char* again = nullptr;
  const int again_size = i2d_CMS_ContentInfo(cms.get(), &again);
  const bool canonical = again_size == static_cast<int>(size) && std::memcmp(again, der, size) == 0;
  OPENSSL_free(again);
  return canonical ? std::move(cms) : nullptr;
}

// True when |cert| may sign code: its extended key usage names code signing
// (a CA may also say "any"), and a key usage, where present, allows signatures.
bool AllowsCodeSigning(X509* cert, bool is_leaf) {
  const uint32_t flags = X509_get_extension_flags(cert);
  const uint32_t usage = X509_get_extended_key_usage(cert);
  if (is_leaf) {
    if ((flags & EXFLAG_XKUSAGE) == 0 || (usage & XKU_CODE_SIGN) == 0) return false;
    return (X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE) != 0;
  }
  return (flags & EXFLAG_XKUSAGE) == 0 || (usage & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}

// Verifies the chain from |signer| to an anchor, valid now, for code signing.
SignatureVerdict VerifyChain(X509* signer, CMS_ContentInfo* cms, const TrustAnchors& anchors) {
  SignatureVerdict verdict;
  openssl::CertStackPtr untrusted(CMS_get1_certs(cms));
  openssl::StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || !X509_STORE_CTX_init(ctx.get(), anchors.store()->store, signer, untrusted.get())) {
    verdict.status = SignatureStatus::kUntrusted;
    verdict.detail = "cannot set up the certificate check";
    return verdict;
  }
  if (X509_verify_cert(ctx.get()) != 1) {
    const int error = X509_STORE_CTX_get_error(ctx.get());
    const bool expired =
        error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID;
    verdict.status = expired ? SignatureStatus::kExpired : SignatureStatus::kUntrusted;
    verdict.detail = X509_verify_cert_error_string(error);
    return verdict;
  }
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    if (!AllowsCodeSigning(sk_X509_value(chain, i), i == 0)) {
      verdict.status = SignatureStatus::kNotCodeSigning;
      verdict.detail = "certificate not valid for code signing";
      return verdict;
    }
  }
  verdict.status = SignatureStatus::kTrusted;
  return verdict;
}

// Reads all of |descriptor| by position. False with the last error set.
bool ReadWholeFile(int descriptor, std::vector<uint8_t>& out) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return false;
  }
  out.resize(static_cast<size_t>(info.st_size));
  if (!ReadExactly(descriptor, out.data(), out.size(), 0)) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

// An anchor, or the anchor folder, that another user may change proves
// nothing: its owner must be root or the agent's own user, and neither its
// group nor others may write it.
bool OnlyTrustedUsersMayChange(const struct stat& info) {
  return (info.st_uid == 0 || info.st_uid == geteuid()) &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Reads a whole small file. Returns false when it cannot be read.
bool ReadAnchorFile(int folder, const char* name, std::string& out) {
  // Non-blocking: a named pipe among the anchors must not hold the check up.
  ScopedFd fd(openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      !OnlyTrustedUsersMayChange(info)) {
    return false;
  }
  return ReadToEnd(fd.get(), &out);
}

bool EndsWith(const char* text, const char* suffix) {
  const size_t length = std::strlen(text);
  const size_t suffix_length = std::strlen(suffix);
  return length >= suffix_length && std::strcmp(text + length - suffix_length, suffix) == 0;
}

}  // namespace

std::optional<SignatureLayout> ParseSignatureTrailer(const uint8_t* trailer, size_t trailer_size,
                                                     uint64_t file_size) {
  if (trailer == nullptr || trailer_size != kSignatureTrailerSize ||
      file_size < kSignatureTrailerSize) {
    return std::nullopt;
  }
  if (std::memcmp(trailer + 4, kSignatureMagic, kSignatureMagicSize) != 0) return std::nullopt;
  const uint32_t signature_size = ReadBigEndian32(trailer);
  if (signature_size == 0 || signature_size > kMaxSignatureSize ||
      signature_size > file_size - kSignatureTrailerSize) {
    return std::nullopt;
  }
  return SignatureLayout{file_size - kSignatureTrailerSize - signature_size, signature_size};
}

std::string MakeSignatureTrailer(uint32_t signature_size) {
  std::string trailer(4, '\0');
  for (int i = 0; i < 4; ++i)
    trailer[i] = static_cast<char>((signature_size >> (24 - 8 * i)) & 0xFF);
  return trailer.append(kSignatureMagic, kSignatureMagicSize);
}

TrustAnchors::TrustAnchors() : store_(std::make_unique<Store>()) {}
TrustAnchors::~TrustAnchors() = default;
TrustAnchors::TrustAnchors(TrustAnchors&& other) noexcept = default;
TrustAnchors& TrustAnchors::operator=(TrustAnchors&& other) noexcept = default;

int TrustAnchors::count() const { return store_->count; }

int TrustAnchors::AddPem(const std::string& pem) {
  openssl::BioPtr bio = openssl::MemoryBio(pem);
  int added = 0;
  while (bio) {
    X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (cert == nullptr) break;
    if (X509_STORE_add_cert(store_->store, cert) == 1) ++added;
    X509_free(cert);
  }
  ERR_clear_error();  // the end of the PEM text is reported as an error
  store_->count += added;
  return added;
}

TrustAnchors TrustAnchors::FromFolder(const std::string& folder) {
  TrustAnchors anchors;
  ScopedFd folder_fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (folder_fd.get() < 0 || fstat(folder_fd.get(), &info) != 0 ||
      !OnlyTrustedUsersMayChange(info)) {
    return anchors;
  }
  DIR* dir = fdopendir(dup(folder_fd.get()));
  if (dir == nullptr) return anchors;
  while (const dirent* entry = readdir(dir)) {
    std::string pem;
    if (EndsWith(entry->d_name, ".pem") && ReadAnchorFile(folder_fd.get(), entry->d_name, pem)) {
      anchors.AddPem(pem);
    }
  }
  closedir(dir);
  return anchors;
}

TrustAnchors TrustAnchors::ForMachine() {
  const KaOSAL::KaString folder = GetMachinePath(u"etc/wardex/trust");
  return FromFolder(KaOSAL::ToUtf8(folder.c_str(), static_cast<size_t>(folder.GetLength())));
}

SignatureVerdict VerifySignedImage(const uint8_t* data, size_t size, const TrustAnchors& anchors) {
  SignatureVerdict verdict;
  if (size < kSignatureTrailerSize) {
    verdict.detail = "no signature";
    return verdict;
  }
  const uint8_t* trailer = data + size - kSignatureTrailerSize;
  if (std::memcmp(trailer + 4, kSignatureMagic, kSignatureMagicSize) != 0) {
    verdict.detail = "no signature";
    return verdict;
  }
  const std::optional<SignatureLayout> layout =
      ParseSignatureTrailer(trailer, kSignatureTrailerSize, size);
  const bool fits = layout && layout->content_size <= static_cast<uint64_t>(INT32_MAX);
  openssl::CmsPtr cms =
      fits ? ParseDetachedSignature(data + layout->content_size, layout->signature_size) : nullptr;
  if (!cms) {
    verdict.status = SignatureStatus::kMalformed;
    verdict.detail = "malformed signature";
    ERR_clear_error();
    return verdict;
  }
  const FirstSigner signer = FindFirstSigner(cms.get());
  if (signer.certificate != nullptr) verdict.signer_name = SimpleDisplayName(signer.certificate);

  openssl::BioPtr content = openssl::MemoryBio(data, layout->content_size);
  const int verified = CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                                  CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY);
  ERR_clear_error();
  if (verified != 1 || signer.certificate == nullptr || !SignatureAlgorithmFits(signer)) {
    verdict.status = SignatureStatus::kBadSignature;
    verdict.detail = "signature does not match the file";
    return verdict;
  }
  SignatureVerdict chain = VerifyChain(signer.certificate, cms.get(), anchors);
  ERR_clear_error();
  chain.signer_name = verdict.signer_name;
  return chain;
}

SignatureVerdict VerifySignedFile(const LibraryFile& file, const TrustAnchors& anchors) {
  std::vector<uint8_t> image;
  if (!ReadWholeFile(static_cast<int>(file.native_handle()), image)) {
    SignatureVerdict verdict;
    verdict.status = SignatureStatus::kReadError;
    verdict.detail = "cannot read the file";
    return verdict;
  }
  return VerifySignedImage(image.data(), image.size(), anchors);
}

}  // namespace wardex::platform
