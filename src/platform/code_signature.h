// The embedded signature of a library file, and its verification against the
// machine's trust anchors.
//
// A signed file is the original bytes, then a detached CMS SignedData (DER)
// over exactly those bytes, then a fixed 32-byte trailer: the signature's
// length as a 4-byte big-endian integer and the 28-byte magic text
// "~Wardex signature appended~\n". A file is trusted when the signature
// verifies, its signer certificate chains to an anchor, every certificate of
// the chain is valid now, and the signer certificate allows code signing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "osal/ka_string.h"

namespace wardex::platform {

inline constexpr char kSignatureMagic[] = "~Wardex signature appended~\n";
inline constexpr size_t kSignatureMagicSize = sizeof(kSignatureMagic) - 1;
inline constexpr size_t kSignatureTrailerSize = 4 + kSignatureMagicSize;
// Larger signatures are refused before anything is parsed.
inline constexpr uint32_t kMaxSignatureSize = 64 * 1024;

// Where the signature sits in a signed file.
struct SignatureLayout {
  uint64_t content_size;    // bytes covered by the signature, from offset 0
  uint32_t signature_size;  // the DER signature follows the content directly
};

// Reads the trailer (the last kSignatureTrailerSize bytes of a file of
// |file_size| bytes). Returns nothing when the magic is absent or the length
// does not fit the file.
[[nodiscard]] std::optional<SignatureLayout> ParseSignatureTrailer(const uint8_t* trailer,
                                                                   size_t trailer_size,
                                                                   uint64_t file_size);

// The trailer that follows a signature of |signature_size| bytes.
std::string MakeSignatureTrailer(uint32_t signature_size);

enum class SignatureStatus {
  kTrusted,
  kUnsigned,          // no trailer
  kMalformed,         // a trailer whose length does not fit, or a signature that does not parse
  kBadSignature,      // the signature does not match the content
  kUntrusted,         // no chain to an anchor
  kExpired,           // a certificate of the chain is not valid now
  kNotCodeSigning,    // the signer certificate does not allow code signing
  kReadError,         // the file could not be read
  kUnknownPublisher,  // all checks passed, but the signer is no trusted publisher
};

struct SignatureVerdict {
  SignatureStatus status = SignatureStatus::kUnsigned;
  // The signer certificate's simple display name (common name, else
  // organisational unit, organisation, e-mail), as found in the signature
  // whether or not it verified; empty when there is none.
  KaOSAL::KaString signer_name;
  // Why the file is not trusted, for people (empty when trusted).
  std::string detail;

  bool trusted() const { return status == SignatureStatus::kTrusted; }
};

// The certificates that signatures must chain to: every certificate of the
// *.pem files in a folder. A file that is not owned by root or the process's
// own user, or that its group or others may write, is ignored; so is the whole
// folder when it is owned or writable so, and when it is missing.
class TrustAnchors {
 public:
  TrustAnchors();  // no anchors: nothing verifies
  ~TrustAnchors();
  TrustAnchors(TrustAnchors&& other) noexcept;
  TrustAnchors& operator=(TrustAnchors&& other) noexcept;
  TrustAnchors(const TrustAnchors&) = delete;
  TrustAnchors& operator=(const TrustAnchors&) = delete;

  // Loads the anchors of |folder| (UTF-8 path).
  static TrustAnchors FromFolder(const std::string& folder);
  // The machine's anchors: $WARDEX_ROOT/etc/wardex/trust/.
  static TrustAnchors ForMachine();
  // Adds the certificates of PEM text; returns how many were added.
  int AddPem(const std::string& pem);

  int count() const;

  struct Store;
  Store* store() const { return store_.get(); }

 private:
  std::unique_ptr<Store> store_;
};

// Verifies a signed image held in memory.
SignatureVerdict VerifySignedImage(const uint8_t* data, size_t size, const TrustAnchors& anchors);

// Verifies the file open on |descriptor|, reading it by position so that the
// descriptor's offset is left alone. The descriptor stays open.
SignatureVerdict VerifySignedFile(int descriptor, const TrustAnchors& anchors);

// A short English text for a status ("trusted", "not signed", ...).
const char* SignatureStatusText(SignatureStatus status);

}  // namespace wardex::platform
