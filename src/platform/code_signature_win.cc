// Authenticode through the system: WinVerifyTrust checks the file's signature
// and digest; our own chain check through crypt32 then decides whether the
// signer chains to one of the anchors, is valid now and may sign code.
// Windows's provider checks a chain too, to the user's roots; Wine's does not
// (it accepts an untrusted root, an expired signer and a signer without the
// code-signing usage). Either way the chain must end at an anchor.
#include "platform/code_signature.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "osal/wide_format.h"
#include "platform/library_loader.h"
#include "platform/windows_api.h"

namespace wardex::platform {

// A collection: anchors added from PEM text go into its own memory store, the
// machine's root store joins it as it is.
struct TrustAnchors::Store {
  Store() {
    certificates = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    const HCERTSTORE added = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    CertAddStoreToCollection(certificates, added, CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG, 0);
    CertCloseStore(added, 0);
  }
  ~Store() { CertCloseStore(certificates, 0); }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  HCERTSTORE certificates;
};

namespace {

constexpr DWORD kEncodings = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct CertificateFree {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct StoreClose {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct MessageClose {
  void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct ChainFree {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using CertificatePtr = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;
using StorePtr = std::unique_ptr<void, StoreClose>;
using MessagePtr = std::unique_ptr<void, MessageClose>;
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

// The first Authenticode signature of a file: its signed message and the
// certificates it carries.
struct EmbeddedSignature {
  StorePtr certificates;
  MessagePtr message;
};

// Returns the file's first signature, read from its certificate table through
// the open handle, or nothing when there is none that parses.
std::optional<EmbeddedSignature> ReadEmbeddedSignature(HANDLE file) {
  DWORD count = 0;
  if (!ImageEnumerateCertificates(file, CERT_SECTION_TYPE_ANY, &count, nullptr, 0) || count == 0) {
    return std::nullopt;
  }
  DWORD size = 0;
  ImageGetCertificateData(file, 0, nullptr, &size);
  constexpr DWORD kHeaderSize = offsetof(WIN_CERTIFICATE, bCertificate);
  if (size <= kHeaderSize) return std::nullopt;
  std::vector<BYTE> buffer(size);
  auto* entry = reinterpret_cast<WIN_CERTIFICATE*>(buffer.data());
  if (!ImageGetCertificateData(file, 0, entry, &size) || entry->dwLength <= kHeaderSize ||
      entry->dwLength > size || entry->wCertificateType != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
    return std::nullopt;
  }
  CRYPT_DATA_BLOB blob{entry->dwLength - kHeaderSize, entry->bCertificate};
  HCERTSTORE certificates = nullptr;
  HCRYPTMSG message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &certificates,
                        &message, nullptr)) {
    return std::nullopt;
  }
  return EmbeddedSignature{StorePtr(certificates), MessagePtr(message)};
}

// The certificate of the message's first signer, found among the signature's
// certificates by issuer and serial number; null when it is not there.
CertificatePtr FirstSignerCertificate(const EmbeddedSignature& signature) {
  DWORD size = 0;
  if (!CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
    return nullptr;
  }
  std::vector<BYTE> buffer(size);
  if (!CryptMsgGetParam(signature.message.get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
    return nullptr;
  }
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  CERT_INFO wanted{};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  return CertificatePtr(CertFindCertificateInStore(signature.certificates.get(), kEncodings, 0,
                                                   CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
}

// The simple display name: common name, else organisational unit,
// organisation, e-mail address.
KaOSAL::KaString SimpleDisplayName(PCCERT_CONTEXT certificate) {
  const DWORD size =
      CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (size <= 1) return {};
  std::wstring name(size, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  return KaOSAL::KaString(reinterpret_cast<const char16_t*>(name.c_str()),
                          static_cast<int>(size - 1));
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a != nullptr && b != nullptr && a->cbCertEncoded == b->cbCertEncoded &&
         std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// One verification by the system's trust provider. Its state, which names the
// certificate that made the signature, is released when the check ends.
class TrustProviderCheck {
 public:
  TrustProviderCheck(HANDLE file, const KaOSAL::KaString& path) {
    file_.cbStruct = sizeof(file_);
    file_.pcwszFilePath = reinterpret_cast<const wchar_t*>(path.c_str());
    file_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  ~TrustProviderCheck() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action_, &data_);
  }
  TrustProviderCheck(const TrustProviderCheck&) = delete;
  TrustProviderCheck& operator=(const TrustProviderCheck&) = delete;

  HRESULT result() const { return result_; }

  // The certificate whose key made the verified signature, or null.
  PCCERT_CONTEXT signer() const {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    return signer != nullptr && signer->csCertChain > 0 ? signer->pasCertChain[0].pCert : nullptr;
  }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO file_{};
  WINTRUST_DATA data_{};
  HRESULT result_ = E_FAIL;
};

SignatureStatus StatusOfProviderResult(HRESULT result) {
  switch (result) {
    case TRUST_E_NOSIGNATURE:
      return SignatureStatus::kUnsigned;
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
      return SignatureStatus::kMalformed;
    case TRUST_E_BAD_DIGEST:
    case TRUST_E_CERT_SIGNATURE:
      return SignatureStatus::kBadSignature;
    case CERT_E_EXPIRED:
      return SignatureStatus::kExpired;
    case CERT_E_WRONG_USAGE:
      return SignatureStatus::kNotCodeSigning;
    default:
      return SignatureStatus::kUntrusted;
  }
}

SignatureVerdict Refused(SignatureStatus status, std::string detail) {
  SignatureVerdict verdict;
  verdict.status = status;
  verdict.detail = std::move(detail);
  return verdict;
}

// True when |certificate| is, byte for byte, one of the anchors.
bool IsAnchor(PCCERT_CONTEXT certificate, HCERTSTORE anchors) {
  PCCERT_CONTEXT anchor = nullptr;
  while ((anchor = CertEnumCertificatesInStore(anchors, anchor)) != nullptr) {
    if (SameCertificate(anchor, certificate)) {
      CertFreeCertificateContext(anchor);
      return true;
    }
  }
  return false;
}

// True when the signer certificate itself names code signing among its
// extended key usages (one without any would allow everything) and its key
// usage, where present, allows signatures.
bool SignerMaySignCode(PCCERT_CONTEXT signer) {
  DWORD size = 0;
  if (!CertGetEnhancedKeyUsage(signer, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)) {
    return false;
  }
  std::vector<BYTE> buffer(size);
  auto* usages = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!CertGetEnhancedKeyUsage(signer, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usages, &size)) {
    return false;
  }
  bool code_signing = false;
  for (DWORD i = 0; i < usages->cUsageIdentifier; ++i) {
    code_signing |= std::strcmp(usages->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0;
  }
  BYTE key_usage = 0;
  const bool has_key_usage = CertGetIntendedKeyUsage(kEncodings, signer->pCertInfo, &key_usage, 1);
  return code_signing && (!has_key_usage || (key_usage & CERT_DIGITAL_SIGNATURE_KEY_USAGE) != 0);
}

// Status bits of the chain that do not count here: the anchors decide about
// the root, revocation is not checked, and validity periods need not nest.
constexpr DWORD kIgnoredChainErrors =
    CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
    CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_NOT_TIME_NESTED;

// Builds the chain from |signer| with the machine's chain engine, the
// signature's certificates and the anchors, for code signing, valid now; it
// must end at an anchor with no status bit that counts.
SignatureVerdict CheckChain(PCCERT_CONTEXT signer, const EmbeddedSignature& signature,
                            HCERTSTORE anchors) {
  const StorePtr extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  CertAddStoreToCollection(extra.get(), signature.certificates.get(), 0, 0);
  CertAddStoreToCollection(extra.get(), anchors, 0, 0);
  char code_signing[] = szOID_PKIX_KP_CODE_SIGNING;
  LPSTR usages[] = {code_signing};
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(HCCE_LOCAL_MACHINE, signer, nullptr, extra.get(), &parameters, 0,
                               nullptr, &built)) {
    return Refused(SignatureStatus::kUntrusted, "cannot build the certificate chain");
  }
  const ChainPtr chain(built);
  const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
  const DWORD errors = chain->TrustStatus.dwErrorStatus & ~kIgnoredChainErrors;
  if (simple == nullptr || simple->cElement == 0 || (errors & CERT_TRUST_IS_PARTIAL_CHAIN) != 0 ||
      !IsAnchor(simple->rgpElement[simple->cElement - 1]->pCertContext, anchors)) {
    return Refused(SignatureStatus::kUntrusted, "no chain to a trust anchor");
  }
  if ((errors & CERT_TRUST_IS_NOT_TIME_VALID) != 0) {
    return Refused(SignatureStatus::kExpired, "a certificate of the chain is not valid now");
  }
  if ((errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0 || !SignerMaySignCode(signer)) {
    return Refused(SignatureStatus::kNotCodeSigning, "certificate not valid for code signing");
  }
  if (errors != 0) {
    char text[64];
    std::snprintf(text, sizeof(text), "certificate chain status 0x%08lX", errors);
    return Refused(SignatureStatus::kUntrusted, text);
  }
  SignatureVerdict verdict;
  verdict.status = SignatureStatus::kTrusted;
  return verdict;
}

// The file's bytes (at most |limit|), for anchors read from PEM files.
std::string ReadSmallFile(const std::wstring& path, DWORD limit) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string content(limit, '\0');
  DWORD got = 0;
  const bool read = ReadFile(file, content.data(), limit, &got, nullptr);
  CloseHandle(file);
  content.resize(read ? got : 0);
  return content;
}

}  // namespace

TrustAnchors::TrustAnchors() : store_(std::make_unique<Store>()) {}
TrustAnchors::~TrustAnchors() = default;
TrustAnchors::TrustAnchors(TrustAnchors&& other) noexcept = default;
TrustAnchors& TrustAnchors::operator=(TrustAnchors&& other) noexcept = default;

int TrustAnchors::count() const {
  int count = 0;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(store_->certificates, certificate)) !=
         nullptr) {
    ++count;
  }
  return count;
}

int TrustAnchors::AddPem(const std::string& pem) {
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int added = 0;
  for (size_t begin = pem.find(kBegin); begin != std::string::npos;
       begin = pem.find(kBegin, begin + kBegin.size())) {
    const size_t end = pem.find(kEnd, begin);
    if (end == std::string::npos) break;
    const DWORD length = static_cast<DWORD>(end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data() + begin, length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(pem.data() + begin, length, CRYPT_STRING_BASE64HEADER, der.data(),
                             &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store_->certificates, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++added;
    }
  }
  return added;
}

TrustAnchors TrustAnchors::FromFolder(const std::string& folder) {
  constexpr DWORD kLargestAnchorFile = 1 << 20;
  TrustAnchors anchors;
  const std::u16string utf16 = KaOSAL::FromUtf8(folder) + u"\\";
  const std::wstring prefix(utf16.begin(), utf16.end());
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((prefix + L"*.pem").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return anchors;
  do {
    // The pattern also matches longer extensions through short names.
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, L".pem") == 0) {
      anchors.AddPem(ReadSmallFile(prefix + name, kLargestAnchorFile));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return anchors;
}

TrustAnchors TrustAnchors::ForMachine() {
  TrustAnchors anchors;
  const HCERTSTORE root = CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
      L"Root");
  if (root != nullptr) {
    CertAddStoreToCollection(anchors.store_->certificates, root, 0, 0);
    CertCloseStore(root, 0);
  }
  return anchors;
}

SignatureVerdict VerifySignedFile(const LibraryFile& file, const TrustAnchors& anchors) {
  if (!file.is_open()) return Refused(SignatureStatus::kReadError, "cannot read the file");
  const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(file.native_handle()));
  const std::optional<EmbeddedSignature> signature = ReadEmbeddedSignature(handle);
  const CertificatePtr named = signature ? FirstSignerCertificate(*signature) : nullptr;
  const KaOSAL::KaString signer_name = named ? SimpleDisplayName(named.get()) : KaOSAL::KaString();

  const TrustProviderCheck provider(handle, file.path());
  SignatureVerdict verdict;
  if (provider.result() != S_OK) {
    char text[48];
    std::snprintf(text, sizeof(text), "WinVerifyTrust 0x%08lX",
                  static_cast<unsigned long>(provider.result()));
    verdict = Refused(StatusOfProviderResult(provider.result()), text);
  } else if (!named || !SameCertificate(named.get(), provider.signer())) {
    // The name must be the verified signer's, not another certificate's that
    // merely carries the same issuer and serial number.
    verdict = Refused(SignatureStatus::kBadSignature, "the named signer did not sign the file");
  } else {
    verdict = CheckChain(named.get(), *signature, anchors.store()->certificates);
  }
  verdict.signer_name = signer_name;
  return verdict;
}

}  // namespace wardex::platform
