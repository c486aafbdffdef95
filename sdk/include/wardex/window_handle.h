// The handle of a window of the agent's user-interface layer, as plug-ins see
// it: an opaque pointer-sized value, never dereferenced outside the host.
#pragma once

namespace wardex {

struct WindowHandleTag;
using WindowHandle = WindowHandleTag*;

}  // namespace wardex
