// The agent's autostart at logon, registered and removed by the maintenance
// switches. On a machine with systemd it is a task saved through CTask that
// runs at logon; without, the autostart entry is written directly, as the
// Run value was on systems without the Task Scheduler. Either way it is an
// XDG autostart entry, which every desktop starts.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// Registers the running program to start at logon under |name|, with
// |description| as the task's comment. True when registered.
bool InstallAutostart(const KaOSAL::KaString& name, const KaOSAL::KaString& description);
// Removes the autostart entry |name|. True when it was there and is gone.
bool RemoveAutostart(const KaOSAL::KaString& name);
// True when the autostart entry |name| is registered.
bool AutostartInstalled(const KaOSAL::KaString& name);

// The name of the agent's autostart entry: the task or Run value, and its
// description.
KaOSAL::KaString AutostartEntryName();

}  // namespace wardex
