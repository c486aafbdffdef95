// The thread an operation of the plug-in contract may be called on, checked
// in debug builds: a ThreadChecker remembers one thread (the agent's frame
// thread, for most of the contract) and WARDEX_DCHECK_ON_THREAD stops the
// process with a message when code meant for that thread runs on another.
// Release builds check nothing and pay nothing.
#pragma once

#include <atomic>
#include <cassert>
#include <thread>

namespace wardex {

class ThreadChecker {
 public:
  // The calling thread becomes the one to check for.
  void Bind() { owner_.store(std::this_thread::get_id()); }
  // True on the bound thread, and anywhere before Bind.
  [[nodiscard]] bool OnBoundThread() const {
    const std::thread::id owner = owner_.load();
    return owner == std::thread::id() || owner == std::this_thread::get_id();
  }

 private:
  std::atomic<std::thread::id> owner_{};
};

}  // namespace wardex

#define WARDEX_DCHECK_ON_THREAD(checker) \
  assert((checker).OnBoundThread() && "called on the wrong thread")
