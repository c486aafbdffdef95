// The show-quick-check request that a second start passes to the running agent.
#pragma once

namespace wardex {

// Sends one kind-13 message through the IPC library's client to the agent's
// channel at the configured server address (Remote/ServerIP, empty for this
// computer), waiting at most 3000 ms. Sends nothing when the library or its
// client cannot be had; the outcome is not reported.
void SendShowQuickCheckRequest();

}  // namespace wardex
