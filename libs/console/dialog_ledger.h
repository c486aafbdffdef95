// The ledger of dialogs shown in the Console and not answered yet, each with
// the time by which it is answered "no button" here, whatever the Console
// does. Every dialog is answered exactly once, through its callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "osal/ka_string.h"
#include "protocol/console_protocol.h"
#include "wardex/message_dialog.h"

namespace wardex::console {

// |text| as the protocol carries it: UTF-8, cut to |max_bytes|.
std::string ProtocolText(const KaOSAL::KaString& text, size_t max_bytes = kMaxTextBytes);

// The protocol form of |dialog|: texts cut to the limit, at most
// kMaxDialogButtons buttons and kMaxDialogCheckBoxes check boxes.
[[nodiscard]] ShowDialogMessage ToMessage(uint32_t id, const MessageDialog& dialog);

// Answers |dialog| through its callback with |button|.
void Complete(MessageDialog& dialog, int32_t button);

// Answers dialog |id| with |button| and the check boxes as the Console
// reported them (null: as given); a button the dialog did not offer is taken
// as no button. Logs the answer.
void CompleteWithAnswer(uint32_t id, MessageDialog& dialog, int32_t button,
                        const std::vector<uint8_t>* checked);

// Not locked: its owner guards it, and completes what it takes out after
// letting go of its lock.
class DialogLedger {
 public:
  using Clock = std::chrono::steady_clock;

  void Open(uint32_t id, MessageDialog dialog, std::optional<Clock::time_point> deadline);
  // Takes dialog |id| out; nullopt when it is not open.
  [[nodiscard]] std::optional<MessageDialog> Take(uint32_t id);
  // Takes every open dialog out, by id.
  [[nodiscard]] std::map<uint32_t, MessageDialog> TakeAll();
  // The dialogs whose deadline is |now| or earlier.
  [[nodiscard]] std::vector<uint32_t> Expired(Clock::time_point now) const;
  // The earliest deadline, if any dialog has one.
  [[nodiscard]] std::optional<Clock::time_point> NextDeadline() const;

 private:
  struct OpenDialog {
    MessageDialog dialog;
    std::optional<Clock::time_point> deadline;
  };
  std::map<uint32_t, OpenDialog> open_;
};

}  // namespace wardex::console
