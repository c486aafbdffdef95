// Descriptor watches on the Linux message loop: how the session bus and the
// termination-signal pipe wake the user-interface thread. Windows has no
// such thing: its loop waits for messages only.
#pragma once

#include <poll.h>

#include <functional>

#include "platform/ui.h"

namespace wardex::platform {

// |events| as poll() reports them (POLLIN, POLLOUT, POLLERR, POLLHUP).
using FdCallback = std::function<void(int fd, short events)>;

// Calls |callback| on |loop|'s thread whenever |fd| reports one of |events|
// (errors and hang-ups always). One watch per descriptor; watching again
// replaces it. Callable from any thread.
void WatchFd(MessageLoop& loop, int fd, short events, FdCallback callback);
void UnwatchFd(MessageLoop& loop, int fd);

}  // namespace wardex::platform
