// The wait of a pipe callback for the answer to a message dialog that the
// Console shows. The Console calls the completion callback from any thread,
// possibly long after the handler gave up waiting; the context it gets back
// is therefore a number that names the wait in a process-wide table, never a
// pointer: a callback whose wait has ended finds nothing and does nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "wardex/message_dialog.h"

namespace wardex {

struct DialogWaitState;

class MessageDialogWait {
 public:
  // Enters a new wait into the table.
  MessageDialogWait();
  // Leaves the table: a later callback for this wait is ignored.
  ~MessageDialogWait();
  MessageDialogWait(const MessageDialogWait&) = delete;
  MessageDialogWait& operator=(const MessageDialogWait&) = delete;

  // What the dialog description carries: the callback and its context.
  [[nodiscard]] static MessageDialogCallback callback();
  [[nodiscard]] void* context() const;

  // Polls every |poll_ms| until the Console answered (true), or more than
  // |limit_ms| passed since the wait began, or |give_up| answers true (false).
  [[nodiscard]] bool Wait(uint32_t limit_ms, uint32_t poll_ms,
                          const std::function<bool()>& give_up = {});

  // The answer, once Wait returned true: the pressed button (at most one
  // entry per answer; none for kMessageDialogNoButton) and the check boxes.
  [[nodiscard]] std::vector<int32_t> buttons() const;
  [[nodiscard]] std::vector<MessageDialogCheckBox> check_boxes() const;

 private:
  uintptr_t token_;
  std::shared_ptr<DialogWaitState> state_;
};

}  // namespace wardex
