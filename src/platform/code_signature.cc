#include "platform/code_signature.h"

namespace wardex::platform {

const char* SignatureStatusText(SignatureStatus status) {
  switch (status) {
    case SignatureStatus::kTrusted:
      return "trusted";
    case SignatureStatus::kUnsigned:
      return "not signed";
    case SignatureStatus::kMalformed:
      return "malformed signature";
    case SignatureStatus::kBadSignature:
      return "signature does not match the file";
    case SignatureStatus::kUntrusted:
      return "signer not trusted";
    case SignatureStatus::kExpired:
      return "certificate expired or not yet valid";
    case SignatureStatus::kNotCodeSigning:
      return "certificate not valid for code signing";
    case SignatureStatus::kReadError:
      return "file cannot be read";
    case SignatureStatus::kUnknownPublisher:
      return "signer is not a trusted publisher";
  }
  return "unknown";
}

}  // namespace wardex::platform
