#include "modules/trust_check.h"

namespace wardex {

bool IsTrustedPublisher(const KaOSAL::KaString& signer_name) {
  KaOSAL::KaString lower = signer_name;
  lower.MakeLower();
  for (const char16_t* fragment : kTrustedPublisherFragments) {
    if (lower.Find(fragment) >= 0) return true;
  }
  return false;
}

platform::SignatureVerdict CheckTrust(const platform::LibraryFile& file,
                                      const platform::TrustAnchors& anchors) {
  platform::SignatureVerdict verdict = platform::VerifySignedFile(file, anchors);
  if (verdict.trusted() && !IsTrustedPublisher(verdict.signer_name)) {
    verdict.status = platform::SignatureStatus::kUnknownPublisher;
    verdict.detail = platform::SignatureStatusText(verdict.status);
  }
  return verdict;
}

}  // namespace wardex
