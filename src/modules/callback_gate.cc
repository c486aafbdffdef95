#include "modules/callback_gate.h"

namespace wardex {

CallbackGate::Ticket& CallbackGate::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    Leave();
    gate_ = std::exchange(other.gate_, nullptr);
  }
  return *this;
}

void CallbackGate::Ticket::Leave() {
  CallbackGate* gate = std::exchange(gate_, nullptr);
  if (gate == nullptr) return;
  std::lock_guard hold(gate->lock_);
  if (--gate->inside_ == 0) gate->last_left_.notify_all();
}

CallbackGate::Ticket CallbackGate::Enter() {
  std::lock_guard hold(lock_);
  if (closed_) return Ticket();
  ++inside_;
  return Ticket(this);
}

void CallbackGate::Refuse() {
  std::lock_guard hold(lock_);
  closed_ = true;
}

void CallbackGate::Close() {
  std::unique_lock hold(lock_);
  closed_ = true;
  last_left_.wait(hold, [this] { return inside_ == 0; });
}

bool CallbackGate::closed() const {
  std::lock_guard hold(lock_);
  return closed_;
}

int32_t CallbackGate::inside() const {
  std::lock_guard hold(lock_);
  return inside_;
}

}  // namespace wardex
