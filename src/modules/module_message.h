// ModuleMessage: the one record in which every pipe message is decoded and
// answered, with its JSON reading and writing.
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"

namespace wardex {

using KaOSAL::KaString;

// A button of a message box ("BTTX", "BTID", "BTTY").
struct ModuleButton {
  KaString text;
  uint32_t id = 0;
  uint32_t type = 0;
  friend bool operator==(const ModuleButton&, const ModuleButton&) = default;
};

// A check box of a message box ("CBTX", "CBID", "CBCH").
struct ModuleCheckBox {
  KaString text;
  int32_t id = 0;
  bool checked = false;
  friend bool operator==(const ModuleCheckBox&, const ModuleCheckBox&) = default;
};

// "SyncRequest" of kinds 2, 9 and 12.
struct SyncRequestRecord {
  int32_t msg_type = 0;  // "MsgType"
  KaString device_id;    // "DeviceID"
  KaString device_ip;    // "DeviceIP"
  KaString device_name;  // "DeviceName"
  KaString share;        // "Share"
  KaString share_data;   // "ShareData"
  friend bool operator==(const SyncRequestRecord&, const SyncRequestRecord&) = default;
};

struct ModuleMessage {
  KaString module_name;  // "ModuleIdentificator"
  int32_t kind = 0;      // "ModuleRequest"

  // Kind 7: notification.
  KaString notification_header;  // "MessageHeader"
  KaString notification_text;    // "Message"

  // Kind 10: notification with a button.
  KaString button_header;   // "MessageHeader"
  KaString button_text;     // "Message"
  KaString button_title;    // "BtnTitle"
  KaString button_command;  // "BtnCmdLine"

  // Kind 11: message box.
  KaString box_header;                      // "MessageHeader"
  KaString box_text;                        // "Message"
  KaString caption_style;                   // "CaptionStyle"
  KaString message_style;                   // "MessageStyle"
  int64_t show_time_ms = -1;                // "ShowTimeInMS"
  int32_t icon = 0;                         // "Icon"
  std::vector<ModuleButton> buttons;        // "Buttons"
  std::vector<ModuleCheckBox> check_boxes;  // "CheckBoxes"

  int32_t check = -1;                   // "Check" (kind 1)
  int32_t requested_switch_state = -1;  // "Switch" (kind 3), "SwitchState" (kind 4)
  int32_t switch_param = 0;             // "SwitchParam" (kinds 3 and 4)
  SyncRequestRecord sync_request;       // "SyncRequest" (kinds 2, 9 and 12)

  // Reply.
  double result_level = 0.0;                      // "ResultLevel"
  KaString result_text;                           // "ResultText"
  KaString result_description;                    // "ResultDescription"
  KaString result_details;                        // "ResultDetails"
  KaString sub_results;                           // "SubResults"
  int32_t current_switch_state = 0;               // "SwitchState" (reply to kind 4)
  std::vector<ModuleCheckBox> reply_check_boxes;  // "CheckBoxes"
  std::vector<ModuleButton> reply_buttons;        // "Buttons"
  friend bool operator==(const ModuleMessage&, const ModuleMessage&) = default;
};

// The flags every message is read with: control white space and single quotes.
inline constexpr uint32_t kModuleMessageReadFlags = 0x40 | 0x80;

// Decodes a message. A text that does not parse, or whose root is not a
// non-empty object, gives the defaults (kind 0). A member of another JSON
// type than its field's, or an integer that does not fit the field, counts
// as absent.
ModuleMessage ReadModuleMessage(const KaString& text);

// The reply: an array holding one object of the result fields.
KaString WriteModuleReply(ModuleMessage message);

// A request of |kind| with the members that belong to it.
KaString WriteModuleMessage(int32_t kind, const ModuleMessage& message);

// Every field of the record, one "field: value" line each, values written as
// JSON; for people checking their messages.
KaString DescribeModuleMessage(const ModuleMessage& message);

}  // namespace wardex
