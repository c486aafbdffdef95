// The long waits of the start-up and of the message dialog, which tests
// shorten through install.cfg (section "Waits"); without those keys the
// agent waits as long as it always did.
#pragma once

#include <cstdint>

namespace wardex {

// Between two attempts to load the main frame: 5000 ms ("FrameLoadRetryMs").
[[nodiscard]] uint32_t FrameLoadRetryWaitMs();
// Before each retry to add the tray icon: 30000 ms ("TrayIconRetryMs").
[[nodiscard]] uint32_t TrayIconRetryWaitMs();
// The longest wait for a message dialog's answer: 3600 s
// ("MessageDialogLimitSeconds").
[[nodiscard]] uint32_t MessageDialogWaitLimitMs();

}  // namespace wardex
