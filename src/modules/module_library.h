// The one way in which the agent loads a library at run time: module
// libraries, the Console module, the IPC library and the outside libraries
// all pass the trust check here first.
#pragma once

#include <vector>

#include "osal/ka_path.h"
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

// The trust check's verdict on the open library |file|: its signature against
// |anchors|, then the publisher rule (kUnknownPublisher). The loader and
// wardex-sign --verify both judge through it.
platform::SignatureVerdict CheckTrust(const platform::LibraryFile& file,
                                      const platform::TrustAnchors& anchors);

// Loads the library at |path| when its embedded signature verifies against the
// machine's trust anchors and names a trusted publisher; the file checked is
// the file loaded. A bare file name is looked for as the dynamic loader would
// look for the agent's own libraries. Returns null, after "ERROR: FATAL - Not
// trusted %s" or "ERROR: Not found %s", when the file is refused or missing,
// and null after a trace line "LOAD DLL ERROR: <dynamic loader's message>"
// when the trusted library itself fails to load.
platform::LibraryHandle LoadModuleLibrary(KaOSAL::KaPath path);

struct TrustedLibrary {
  KaOSAL::KaString path;
  KaOSAL::KaString signer;
};
// The libraries that LoadModuleLibrary loaded in this run, once each, in the
// order of their first load, with the signer their signature named.
std::vector<TrustedLibrary> LoadedTrustedLibraries();

}  // namespace wardex
