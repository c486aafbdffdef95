// A gate for calls that arrive on other threads (pipe callbacks, the news
// thread's use of the Console): entering gives a ticket, which is empty once
// the gate is closed; closing waits until the last ticket is gone. The
// owner closes the gate before it lets go of what the calls use.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace wardex {

class CallbackGate {
 public:
  // One call inside the gate, for as long as it lives; empty when the gate
  // was closed. Move-only.
  class Ticket {
   public:
    Ticket() = default;
    Ticket(Ticket&& other) noexcept : gate_(std::exchange(other.gate_, nullptr)) {}
    Ticket& operator=(Ticket&& other) noexcept;
    ~Ticket() { Leave(); }
    explicit operator bool() const { return gate_ != nullptr; }

   private:
    friend class CallbackGate;
    explicit Ticket(CallbackGate* gate) : gate_(gate) {}
    void Leave();
    CallbackGate* gate_ = nullptr;
  };

  CallbackGate() = default;
  CallbackGate(const CallbackGate&) = delete;
  CallbackGate& operator=(const CallbackGate&) = delete;

  [[nodiscard]] Ticket Enter();
  // Refuses new tickets from now on.
  void Refuse();
  // Refuses new tickets and waits until every ticket given out is gone.
  // Must not be called while the caller holds a ticket of this gate.
  void Close();

  [[nodiscard]] bool closed() const;
  // How many tickets are out now.
  [[nodiscard]] int32_t inside() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable last_left_;
  bool closed_ = false;
  int32_t inside_ = 0;
};

}  // namespace wardex
