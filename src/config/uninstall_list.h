// The uninstall list, ToBeUninstalled.dat in the user content folder: every
// file the agent created, for the suite's uninstaller.
#pragma once

#include "osal/ka_path.h"

namespace wardex {

// Enters |path| into the list once and logs whether it was there already or
// could not be entered. Paths match without regard to case, as every key of a
// profile file does.
void RegisterForUninstall(const KaOSAL::KaPath& path);

}  // namespace wardex
