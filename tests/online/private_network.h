// Moves the calling process, before it starts any thread, into a private
// network namespace with only loopback, up, and a default route over it:
// the HTTP client's Internet check passes and no packet can leave.
#pragma once

#include <string>

namespace wardex::test {

// False, with the reason, when no namespace could be made (not root).
bool EnterPrivateNetwork(std::string* reason);

}  // namespace wardex::test
