// The signature of a library file and its verification against the machine's
// trust anchors: the stand-in for Authenticode on Linux (a signature appended
// to the file, see appended_signature.h), Authenticode itself on Windows.
//
// A file is trusted when its signature matches its content, the signer
// certificate chains to an anchor, every certificate of the chain is valid
// now, and the signer certificate allows code signing.
#pragma once

#include <memory>
#include <string>

#include "osal/ka_string.h"

namespace wardex::platform {

class LibraryFile;

enum class SignatureStatus {
  kTrusted,
  kUnsigned,          // no signature
  kMalformed,         // a signature that does not parse or does not fit the file
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

// The certificates that signatures must chain to.
class TrustAnchors {
 public:
  TrustAnchors();  // no anchors: nothing verifies
  ~TrustAnchors();
  TrustAnchors(TrustAnchors&& other) noexcept;
  TrustAnchors& operator=(TrustAnchors&& other) noexcept;
  TrustAnchors(const TrustAnchors&) = delete;
  TrustAnchors& operator=(const TrustAnchors&) = delete;

  // The certificates of the *.pem files in |folder| (UTF-8 path). On Linux a
  // file that is not owned by root or the process's own user, or that its
  // group or others may write, is ignored; so is the whole folder when it is
  // owned or writable so, and when it is missing.
  static TrustAnchors FromFolder(const std::string& folder);
  // The machine's anchors, which only an administrator may change: on Linux
  // the folder $WARDEX_ROOT/etc/wardex/trust/, on Windows the local machine's
  // store of trusted root authorities.
  static TrustAnchors ForMachine();
  // Adds the certificates of PEM text; returns how many were added.
  int AddPem(const std::string& pem);

  int count() const;

  struct Store;
  Store* store() const { return store_.get(); }

 private:
  std::unique_ptr<Store> store_;
};

// Verifies the open library file, reading it through |file| itself so that
// what is checked is what gets loaded.
SignatureVerdict VerifySignedFile(const LibraryFile& file, const TrustAnchors& anchors);

// A short English text for a status ("trusted", "not signed", ...).
const char* SignatureStatusText(SignatureStatus status);

}  // namespace wardex::platform
