// The user's service manager (systemd --user), told about changed unit files
// over the user bus where one is reachable. Nothing needs it: unit files and
// their links take effect at the manager's next start anyway.
#pragma once

#include <string>

namespace wardex::platform {

// Stops |stop_unit| (when not empty), reloads the unit files, then starts
// |start_unit| (when not empty). Each call waits at most a few seconds; a
// bus or manager that is not there is no failure.
void TellUserManager(const std::string& stop_unit, const std::string& start_unit);

}  // namespace wardex::platform
