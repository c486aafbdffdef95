// Waiting in tests for what another thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

namespace wardex::test {

// Polls |condition| every |every| for up to |timeout|; returns its last value.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5),
             std::chrono::milliseconds every = std::chrono::milliseconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(every);
  }
  return true;
}

}  // namespace wardex::test
