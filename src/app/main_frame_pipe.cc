// CMainFrame's handling of the pipe messages, on the IPC library's threads.
// The callback writes the record back as the reply afterwards.
#include <mutex>
#include <string>

#include "app/main_frame.h"
#include "app/message_dialog_wait.h"
#include "app/tray_texts.h"
#include "app/wait_settings.h"
#include "modules/scoped_count.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaString;

// Request kinds.
enum : int32_t {
  kStartTask = 1,
  kRunTask = 2,
  kSetSwitch = 3,
  kGetSwitch = 4,
  kAnswerOnly = 5,
  kStopTask = 6,
  kShortMessage = 7,
  kRefreshProductName = 8,
  kButtonMessage = 10,
  kMessageDialog = 11,
  kShowQuickCheck = 13,
};

constexpr int32_t kShortMessageSeconds = 5;
constexpr uint32_t kShortBalloonSeconds = 3;
constexpr int32_t kButtonMessageSeconds = 30;
constexpr uint32_t kDialogPollMs = 50;
constexpr int32_t kResultBufferLength = 1024;
constexpr int32_t kResultTextLength = 4096;
constexpr double kStoppedResultLevel = 100.0;

// The text a module writes into a buffer of |length| characters.
template <typename Read>
KaString ReadModuleText(int32_t length, Read read) {
  std::u16string buffer(static_cast<size_t>(length) + 1, u'\0');
  read(buffer.data(), length);
  return KaString(buffer.c_str());
}

// Result level, description and details of a task request.
void ReadTaskResults(IModule* module, ModuleMessage& message) {
  message.result_level = module->GetResultLevel(-1);
  message.result_description = ReadModuleText(kResultBufferLength, [&](char16_t* text, int32_t n) {
    module->GetResultDescription(text, n, -1);
  });
  message.result_details = ReadModuleText(kResultBufferLength, [&](char16_t* text, int32_t n) {
    module->GetResultDetails(text, n, -1);
  });
}

// The result text and the sub-results of every request that passed its flag test.
void ReadResultTexts(IModule* module, ModuleMessage& message) {
  message.result_text = ReadModuleText(
      kResultTextLength, [&](char16_t* text, int32_t n) { module->GetResultText(text, n, -1); });
  const int32_t length = module->GetSubResults(nullptr, 0, -1);
  if (length > 0) {
    // One character more than reported, for the terminator.
    message.sub_results = ReadModuleText(
        length + 1, [&](char16_t* text, int32_t n) { module->GetSubResults(text, n, -1); });
  }
}

// The dialog description, field by field, from the record.
MessageDialog DescribeDialog(const ModuleMessage& message, const MessageDialogWait& wait) {
  MessageDialog dialog;
  dialog.reserved_value = 0;
  dialog.reserved_flag = 0;
  dialog.style = 4;
  dialog.header = message.box_header;
  dialog.message = message.box_text;
  dialog.caption_style = message.caption_style;
  dialog.message_style = message.message_style;
  dialog.icon = message.icon;
  dialog.show_time_ms = static_cast<uint32_t>(static_cast<uint64_t>(message.show_time_ms));
  for (const ModuleButton& button : message.buttons) {
    dialog.buttons.push_back(MessageDialogButton{button.text, static_cast<int32_t>(button.id),
                                                 KaString(), KaString(),
                                                 static_cast<int32_t>(button.type)});
  }
  for (const ModuleCheckBox& box : message.check_boxes) {
    dialog.check_boxes.push_back(
        MessageDialogCheckBox{box.text, box.id, static_cast<uint8_t>(box.checked ? 1 : 0)});
  }
  dialog.on_complete = MessageDialogWait::callback();
  dialog.context = wait.context();
  return dialog;
}

}  // namespace

void CMainFrame::HandlePipeMessage(ModuleMessage& message) {
  switch (message.kind) {
    case kAnswerOnly:
      break;
    case kShortMessage:
      ShowShortMessage(message);
      break;
    case kButtonMessage:
      ShowButtonMessage(message);
      break;
    case kMessageDialog:
      ShowMessageDialog(message);
      break;
    case kRefreshProductName:
      RefreshProductName();
      break;
    case kShowQuickCheck:
      // The quick-check view is shown on the user-interface thread.
      platform::PostMessage(window_.load(), kShowSnapCheckMessage, 0, 0);
      break;
    default:
      HandleModuleRequest(message);
      break;
  }
}

void CMainFrame::ShowShortMessage(const ModuleMessage& message) {
  if (const ConsoleAccess::Use console = agent_.console_access.Enter()) {
    console->ShowMessage(message.notification_text, message.notification_header,
                         kShortMessageSeconds, KaString(), KaString());
  } else {
    agent_.tray.ShowBalloon(message.notification_text.c_str(), message.notification_header.c_str(),
                            platform::NIIF_INFO, kShortBalloonSeconds);
  }
}

void CMainFrame::ShowButtonMessage(const ModuleMessage& message) {
  if (const ConsoleAccess::Use console = agent_.console_access.Enter()) {
    console->ShowMessage(message.button_text, message.button_header, kButtonMessageSeconds,
                         message.button_title, message.button_command);
  } else {
    agent_.tray.ShowBalloon(message.button_text.c_str(), message.button_header.c_str(),
                            platform::NIIF_INFO, kButtonMessageSeconds);
  }
}

void CMainFrame::ShowMessageDialog(ModuleMessage& message) {
  // Each waiting dialog holds one of the pipe server's workers, possibly for
  // an hour: beyond the reserve's bound a dialog is not shown and answered
  // at once, as one that nobody answered, so short requests are still served.
  const ScopedCount waiting(waiting_dialogs_);
  if (waiting.before() >= kMaxWaitingDialogs) {
    LogW(kLogNotable, u"Tray ### message dialog \"%s\" refused: %d dialogs wait for an answer",
         message.box_header.c_str(), waiting.before());
    return;
  }
  MessageDialogWait wait;
  if (const ConsoleAccess::Use console = agent_.console_access.Enter()) {
    console->ShowMessageDialog(DescribeDialog(message, wait));
  } else {
    agent_.tray.ShowBalloon(message.box_text.c_str(), message.box_header.c_str(),
                            platform::NIIF_INFO, kButtonMessageSeconds);
  }
  // Without a Console nobody answers, and the wait runs to its bound, or
  // until the agent begins to stop.
  if (!wait.Wait(MessageDialogWaitLimitMs(), kDialogPollMs,
                 [this] { return agent_.pipe_server.stopping(); })) {
    return;
  }
  for (int32_t button : wait.buttons()) {
    message.reply_buttons.push_back(ModuleButton{KaString(), static_cast<uint32_t>(button), 0});
  }
  for (const MessageDialogCheckBox& box : wait.check_boxes()) {
    message.reply_check_boxes.push_back(ModuleCheckBox{box.title, box.value, box.checked != 0});
  }
}

void CMainFrame::RefreshProductName() {
  // The ampersand rule of the menu set-up, kept through the format: a lone
  // ampersand between blanks is shown, not taken as a mnemonic.
  KaString name = ReadProductName();
  name.Replace(u" & ", u" &&& ");
  KaString text = FormatStartEntry(name);
  text.Replace(u" &&& ", u" && ");
  agent_.tray.SetMenuText(kMenuPositionStart, text.c_str());
  agent_.tray.SetMenuDefaultItem(kMenuPositionStart, true);
  if (const ConsoleAccess::Use console = agent_.console_access.Enter()) console->Refresh();
}

void CMainFrame::ArmIconResetTimer() {
  platform::SetTimer(window_.load(), icon_reset_timer_id_, kIconResetTimerDelayMs);
}

void CMainFrame::HandleModuleRequest(ModuleMessage& message) {
  // Held to the end: the module stays loaded while this thread is inside it.
  const std::shared_ptr<ModuleLoader> loader = GetModule(message.module_name, true);
  IModule* module = loader != nullptr ? loader->Load(KaString()) : nullptr;
  if (module == nullptr) return;
  const uint32_t flags = module->GetFlags();
  const bool runs_tasks = (flags & kModuleFlagRunsTasks) != 0;
  const bool is_switch = (flags & kModuleFlagSwitch) != 0;
  switch (message.kind) {
    case kStartTask:
      if (!runs_tasks) return;
      // The busy icon (130) until the reset timer fires after the last request.
      agent_.tray.SetIcon(platform::IDR_MAINFRAME);
      module->StartTask(0, 0, message.check);
      ArmIconResetTimer();
      ReadTaskResults(module, message);
      break;
    case kRunTask:
      if (!runs_tasks || (flags & kModuleFlagRefusesRunRequest) != 0) return;
      // The busy icon (130) until the reset timer fires after the last request.
      agent_.tray.SetIcon(platform::IDR_MAINFRAME);
      module->RunTask(-1);
      ArmIconResetTimer();
      ReadTaskResults(module, message);
      break;
    case kSetSwitch: {
      if (!is_switch) return;
      // Held across the switch, which may show something through the view:
      // the frame takes the view back from cached modules before the Console goes.
      const ConsoleAccess::Use console = agent_.console_access.Enter();
      module->SetConsoleView(console.get());
      IModuleSwitch* module_switch = ToModuleSwitch(module);
      if (module_switch->GetSwitchState(0, 0, message.switch_param) !=
          message.requested_switch_state) {
        module_switch->SetSwitchState(message.requested_switch_state, message.switch_param);
      }
      break;
    }
    case kGetSwitch:
      if (!is_switch) return;
      message.current_switch_state = ToModuleSwitch(module)->GetSwitchState(0, 0, -1);
      break;
    case kStopTask:
      if (!runs_tasks) return;
      module->StopTask(1);
      message.result_level = kStoppedResultLevel;
      break;
    default:
      // Kinds 9, 12 and any other: the module is in the cache now; nothing more.
      return;
  }
  ReadResultTexts(module, message);
}

}  // namespace wardex
