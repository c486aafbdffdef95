// Moves the calling process, before it starts any thread, into a private
// network namespace with only loopback, up, and a default route over it:
// the HTTP client's Internet check passes and no packet can leave.
#pragma once

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace wardex::test {

// False, with the reason, when no namespace could be made (not root).
inline bool EnterPrivateNetwork(std::string* reason) {
  if (unshare(CLONE_NEWNET) != 0) {
    *reason = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    return false;
  }
  if (std::system("ip link set lo up && ip route add default dev lo") != 0) {
    *reason = "could not bring loopback up with its default route (ip)";
    return false;
  }
  return true;
}

}  // namespace wardex::test
