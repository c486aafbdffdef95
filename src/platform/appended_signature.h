// The signature that the Linux build appends to a library file: its format,
// making it (the signing tool and the build) and checking a signed image.
//
// A signed file is the original bytes, then a detached CMS SignedData (DER)
// over exactly those bytes, then a fixed 32-byte trailer: the signature's
// length as a 4-byte big-endian integer and the 28-byte magic text
// "~Wardex signature appended~\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/code_signature.h"

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

// Verifies a signed image held in memory.
SignatureVerdict VerifySignedImage(const uint8_t* data, size_t size, const TrustAnchors& anchors);

// Key and certificates of a signer, as PEM text: the private key, the signer
// certificate, and optionally the intermediate certificates up to (not
// including) the anchor, which go into the signature so that a verifier can
// build the chain.
struct SignerCredentials {
  std::string key_pem;
  std::string certificate_pem;
  std::string chain_pem;
};

// The content of a file without its embedded signature (the whole text when
// it carries none).
std::string StripSignature(const std::string& file);

// Signs |file| and returns it with the signature appended; an existing
// signature is replaced. Returns false with |error| set (key and certificate
// that do not match, unreadable PEM text, ...).
[[nodiscard]] bool SignImage(const std::string& file, const SignerCredentials& signer,
                             std::string& signed_file, std::string& error);

}  // namespace wardex::platform
