// The message dialog that the agent hands by value to
// IConsoleView::ShowMessageDialog, and the completion callback through which
// the Console module answers it.
//
// The meaning of the integers inside buttons and check boxes, and of the
// constant fields, belongs to the Console module; the agent only passes them on.
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"
#include "wardex/export.h"

namespace wardex {

struct MessageDialogButton {
  KaOSAL::KaString title;
  int32_t value = 0;             // reported back as the pressed button's value
  KaOSAL::KaString extra_text;   // empty
  KaOSAL::KaString extra_text2;  // empty
  int32_t extra_value = 0;
};

struct MessageDialogCheckBox {
  KaOSAL::KaString title;
  int32_t value = 0;
  uint8_t checked = 0;  // 1 when ticked
};

// The pressed-button value that means "no button".
inline constexpr int32_t kMessageDialogNoButton = -1;

// Called once by the Console module, from any thread, when the dialog closes:
// |ignored| is not read by the agent; |button| the pressed button's value or
// kMessageDialogNoButton; |check_boxes| the check boxes as the user left them
// (the agent reads them before it returns); |context| the dialog's context.
using MessageDialogCallback =
    void(WARDEX_STDCALL*)(int32_t ignored, int32_t button,
                          const std::vector<MessageDialogCheckBox>* check_boxes, void* context);

// Fields in the order the Console module reads them.
struct MessageDialog {
  int32_t reserved_value = 0;
  uint8_t reserved_flag = 0;
  int32_t style = 4;
  KaOSAL::KaString reserved_text1;
  KaOSAL::KaString reserved_text2;
  KaOSAL::KaString header;
  KaOSAL::KaString message;
  KaOSAL::KaString reserved_text3;
  KaOSAL::KaString caption_style;
  KaOSAL::KaString message_style;
  int32_t icon = 0;
  uint32_t show_time_ms = 0;
  std::vector<MessageDialogButton> buttons;
  std::vector<MessageDialogCheckBox> check_boxes;
  uint8_t reserved_flag2 = 0;
  uint8_t reserved_flag3 = 0;
  int32_t reserved_value2 = 0;
  int32_t reserved_value3 = 0;
  MessageDialogCallback on_complete = nullptr;
  void* context = nullptr;  // the agent's waiting handler; opaque to the Console
};

}  // namespace wardex
