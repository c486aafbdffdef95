// Making the embedded signature of a library file (see code_signature.h for
// the format): used by the signing tool and by the build.
#pragma once

#include <string>

namespace wardex::platform {

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
