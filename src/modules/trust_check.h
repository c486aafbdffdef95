// The trust check's one verdict on a library file: its signature, then the
// publisher rule. The loader and wardex-sign --verify both judge through it,
// so the tool never calls trusted what the agent refuses.
#pragma once

#include "osal/ka_string.h"
#include "platform/code_signature.h"
#include "platform/library_loader.h"

namespace wardex {

// Lower-case fragments of the publishers whose signed libraries are loaded,
// tried in order against the lower-cased signer name (a substring test, so a
// fragment inside a longer word counts). The first is the suite maker's own.
inline constexpr const char16_t* kTrustedPublisherFragments[] = {
    u"corvane", u"ventrosoft", u"kestrel-labs", u"kestrellabs", u"orbiware", u"halvard", u"nimbex",
};

// True when the lower-cased |signer_name| contains a trusted fragment.
bool IsTrustedPublisher(const KaOSAL::KaString& signer_name);

// The verdict on the open library |file|: its signature against |anchors|,
// then the publisher rule (kUnknownPublisher).
platform::SignatureVerdict CheckTrust(const platform::LibraryFile& file,
                                      const platform::TrustAnchors& anchors);

}  // namespace wardex
