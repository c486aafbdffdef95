// The one way in which the agent loads a library at run time: module
// libraries, the Console module, the IPC library and the outside libraries
// all pass the trust check here first.
#pragma once

#include <vector>

#include "modules/trust_check.h"
#include "osal/ka_path.h"
#include "platform/library_loader.h"

namespace wardex {

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
