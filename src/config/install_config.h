// install.cfg: the installer's description of the installation, found and
// read anew at every call so that a changed file is seen at once.
#pragma once

#include "osal/ka_path.h"
#include "osal/ka_string.h"

namespace wardex {

// The first existing install.cfg of: the executable's folder, the folder of
// the module that holds this code, its parent, and its parent's parent (the
// last is returned whether or not it exists, so reads give their defaults).
KaOSAL::KaPath GetInstallConfigPath();

// The value of |key| in |section| of install.cfg, or |defaultValue|.
KaOSAL::KaString ReadInstallConfig(const KaOSAL::KaString& section, const KaOSAL::KaString& key,
                                   const KaOSAL::KaString& defaultValue);

// The channel on which the agent's pipe server listens (ipc/ServiceChannelName).
KaOSAL::KaString GetIpcChannelName();
// Where a second start sends its request for the running agent (Remote/ServerIP).
KaOSAL::KaString GetRemoteServerAddress();

}  // namespace wardex
