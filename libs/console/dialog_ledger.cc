#include "dialog_ledger.h"

#include <algorithm>
#include <utility>

#include "osal/wide_format.h"
#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

// True when |button| is -1 or the value of one of the buttons the Console was shown.
bool IsOfferedButton(const MessageDialog& dialog, int32_t button) {
  if (button == kMessageDialogNoButton) return true;
  const size_t shown = std::min<size_t>(dialog.buttons.size(), kMaxDialogButtons);
  return std::any_of(dialog.buttons.begin(), dialog.buttons.begin() + static_cast<long>(shown),
                     [button](const MessageDialogButton& b) { return b.value == button; });
}

}  // namespace

std::string ProtocolText(const KaOSAL::KaString& text, size_t max_bytes) {
  return FitText(KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength())), max_bytes);
}

ShowDialogMessage ToMessage(uint32_t id, const MessageDialog& dialog) {
  ShowDialogMessage message;
  message.id = id;
  message.header = ProtocolText(dialog.header);
  message.message = ProtocolText(dialog.message);
  message.caption_style = ProtocolText(dialog.caption_style);
  message.message_style = ProtocolText(dialog.message_style);
  message.icon = dialog.icon;
  // The agent's "not given" (-1) arrives here as its low 32 bits.
  message.show_time_ms = dialog.show_time_ms == UINT32_MAX ? 0 : dialog.show_time_ms;
  const size_t buttons = std::min<size_t>(dialog.buttons.size(), kMaxDialogButtons);
  for (size_t i = 0; i < buttons; ++i)
    message.buttons.push_back({ProtocolText(dialog.buttons[i].title), dialog.buttons[i].value});
  const size_t boxes = std::min<size_t>(dialog.check_boxes.size(), kMaxDialogCheckBoxes);
  for (size_t i = 0; i < boxes; ++i)
    message.check_boxes.push_back(
        {ProtocolText(dialog.check_boxes[i].title), dialog.check_boxes[i].checked != 0});
  return message;
}

void Complete(MessageDialog& dialog, int32_t button) {
  if (dialog.on_complete != nullptr)
    dialog.on_complete(0, button, &dialog.check_boxes, dialog.context);
}

void CompleteWithAnswer(uint32_t id, MessageDialog& dialog, int32_t button,
                        const std::vector<uint8_t>* checked) {
  if (!IsOfferedButton(dialog, button)) {
    LogW(kLogError,
         u"CONSOLE: dialog %u answered with button %d, which it does not have; "
         u"taken as no button",
         id, button);
    button = kMessageDialogNoButton;
  }
  if (checked != nullptr) {
    const size_t boxes = std::min(checked->size(), dialog.check_boxes.size());
    for (size_t i = 0; i < boxes; ++i) dialog.check_boxes[i].checked = (*checked)[i] != 0 ? 1 : 0;
  }
  LogW(kLogInfo, u"CONSOLE: dialog %u \"%s\" answered with button %d", id, dialog.header.c_str(),
       button);
  Complete(dialog, button);
}

void DialogLedger::Open(uint32_t id, MessageDialog dialog,
                        std::optional<Clock::time_point> deadline) {
  open_.emplace(id, OpenDialog{std::move(dialog), deadline});
}

std::optional<MessageDialog> DialogLedger::Take(uint32_t id) {
  const auto it = open_.find(id);
  if (it == open_.end()) return std::nullopt;
  MessageDialog dialog = std::move(it->second.dialog);
  open_.erase(it);
  return dialog;
}

std::map<uint32_t, MessageDialog> DialogLedger::TakeAll() {
  std::map<uint32_t, MessageDialog> taken;
  for (auto& [id, open] : open_) taken.emplace(id, std::move(open.dialog));
  open_.clear();
  return taken;
}

std::vector<uint32_t> DialogLedger::Expired(Clock::time_point now) const {
  std::vector<uint32_t> expired;
  for (const auto& [id, open] : open_)
    if (open.deadline.has_value() && *open.deadline <= now) expired.push_back(id);
  return expired;
}

std::optional<DialogLedger::Clock::time_point> DialogLedger::NextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const auto& [id, open] : open_)
    if (open.deadline.has_value() && (!next.has_value() || *open.deadline < *next))
      next = open.deadline;
  return next;
}

}  // namespace wardex::console
