#include "app/message_dialog_wait.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace wardex {

// What one wait holds: the answer lists and the event, as the auto-reset
// event and the two lists of the dialog's context.
struct DialogWaitState {
  std::mutex lock;
  std::condition_variable signaled_changed;
  bool signaled = false;
  std::vector<int32_t> buttons;
  std::vector<MessageDialogCheckBox> check_boxes;
};

namespace {

// The waits in progress, by token. Tokens count up and are never reused.
struct WaitTable {
  std::mutex lock;
  uintptr_t last_token = 0;
  std::map<uintptr_t, std::shared_ptr<DialogWaitState>> waits;
};

WaitTable& Table() {
  static WaitTable* table = new WaitTable;  // used by callbacks until the process ends
  return *table;
}

std::shared_ptr<DialogWaitState> Find(uintptr_t token) {
  WaitTable& table = Table();
  std::lock_guard hold(table.lock);
  auto found = table.waits.find(token);
  return found != table.waits.end() ? found->second : nullptr;
}

// The completion callback: appends the answer to the wait's lists and
// signals it. Nothing happens without a context or a list, or when the wait
// has already ended.
void WARDEX_STDCALL CompleteDialog(int32_t /*ignored*/, int32_t button,
                                   const std::vector<MessageDialogCheckBox>* check_boxes,
                                   void* context) {
  if (context == nullptr || check_boxes == nullptr) return;
  std::shared_ptr<DialogWaitState> state = Find(reinterpret_cast<uintptr_t>(context));
  if (!state) return;
  std::lock_guard hold(state->lock);
  if (button != kMessageDialogNoButton) state->buttons.push_back(button);
  state->check_boxes.insert(state->check_boxes.end(), check_boxes->begin(), check_boxes->end());
  state->signaled = true;
  state->signaled_changed.notify_all();
}

}  // namespace

MessageDialogWait::MessageDialogWait() : state_(std::make_shared<DialogWaitState>()) {
  WaitTable& table = Table();
  std::lock_guard hold(table.lock);
  token_ = ++table.last_token;
  table.waits.emplace(token_, state_);
}

MessageDialogWait::~MessageDialogWait() {
  WaitTable& table = Table();
  std::lock_guard hold(table.lock);
  table.waits.erase(token_);
}

MessageDialogCallback MessageDialogWait::callback() { return &CompleteDialog; }

void* MessageDialogWait::context() const { return reinterpret_cast<void*>(token_); }

bool MessageDialogWait::Wait(uint32_t limit_ms, uint32_t poll_ms,
                             const std::function<bool()>& give_up) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::unique_lock hold(state_->lock);
  while (!state_->signaled) {
    if (Clock::now() - start > std::chrono::milliseconds(limit_ms)) return false;
    if (give_up && give_up()) return false;
    state_->signaled_changed.wait_for(hold, std::chrono::milliseconds(poll_ms));
  }
  // Auto-reset: the answer is taken once.
  state_->signaled = false;
  return true;
}

std::vector<int32_t> MessageDialogWait::buttons() const {
  std::lock_guard hold(state_->lock);
  return state_->buttons;
}

std::vector<MessageDialogCheckBox> MessageDialogWait::check_boxes() const {
  std::lock_guard hold(state_->lock);
  return state_->check_boxes;
}

}  // namespace wardex
