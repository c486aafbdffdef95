#include "modules/module_message.h"

#include <limits>
#include <type_traits>

#include "modules/json_value.h"

namespace wardex {
namespace {

constexpr char16_t kModuleIdentificator[] = u"ModuleIdentificator";
constexpr char16_t kModuleRequest[] = u"ModuleRequest";
constexpr char16_t kMessageHeader[] = u"MessageHeader";
constexpr char16_t kMessage[] = u"Message";
constexpr char16_t kBtnTitle[] = u"BtnTitle";
constexpr char16_t kBtnCmdLine[] = u"BtnCmdLine";
constexpr char16_t kCaptionStyle[] = u"CaptionStyle";
constexpr char16_t kMessageStyle[] = u"MessageStyle";
constexpr char16_t kShowTimeInMS[] = u"ShowTimeInMS";
constexpr char16_t kIcon[] = u"Icon";
constexpr char16_t kButtons[] = u"Buttons";
constexpr char16_t kCheckBoxes[] = u"CheckBoxes";
constexpr char16_t kCheck[] = u"Check";
constexpr char16_t kSwitch[] = u"Switch";
constexpr char16_t kSwitchState[] = u"SwitchState";
constexpr char16_t kSwitchParam[] = u"SwitchParam";
constexpr char16_t kSyncRequest[] = u"SyncRequest";
constexpr char16_t kResultLevel[] = u"ResultLevel";
constexpr char16_t kResultText[] = u"ResultText";
constexpr char16_t kResultDescription[] = u"ResultDescription";
constexpr char16_t kResultDetails[] = u"ResultDetails";
constexpr char16_t kSubResults[] = u"SubResults";
constexpr char16_t kButtonText[] = u"BTTX";
constexpr char16_t kButtonId[] = u"BTID";
constexpr char16_t kButtonType[] = u"BTTY";
constexpr char16_t kCheckBoxText[] = u"CBTX";
constexpr char16_t kCheckBoxId[] = u"CBID";
constexpr char16_t kCheckBoxChecked[] = u"CBCH";
constexpr char16_t kMsgType[] = u"MsgType";
constexpr char16_t kDeviceID[] = u"DeviceID";
constexpr char16_t kDeviceIP[] = u"DeviceIP";
constexpr char16_t kDeviceName[] = u"DeviceName";
constexpr char16_t kShare[] = u"Share";
constexpr char16_t kShareData[] = u"ShareData";

// --- Reading. A member counts as present only with the JSON type of its
// field and, for integers, a value that the field holds.

template <typename T>
bool ReadInteger(const CJsonValue& object, const char16_t* name, T& field) {
  const CJsonValue* member = object.Find(name);
  if (!member) return false;
  if constexpr (std::is_signed_v<T>) {
    const auto value = member->GetInt64();
    if (!value || *value < std::numeric_limits<T>::min() ||
        *value > std::numeric_limits<T>::max()) {
      return false;
    }
    field = static_cast<T>(*value);
  } else {
    const auto value = member->GetUInt64();
    if (!value || *value > std::numeric_limits<T>::max()) return false;
    field = static_cast<T>(*value);
  }
  return true;
}

bool ReadString(const CJsonValue& object, const char16_t* name, KaString& field) {
  const CJsonValue* member = object.Find(name);
  if (!member) return false;
  auto value = member->GetString();
  if (!value) return false;
  field = *value;
  return true;
}

bool HasString(const CJsonValue& object, const char16_t* name) {
  const CJsonValue* member = object.Find(name);
  return member && member->GetKind() == JsonKind::kString;
}

void ReadBool(const CJsonValue& object, const char16_t* name, bool& field) {
  const CJsonValue* member = object.Find(name);
  if (!member) return;
  if (auto value = member->GetBool()) field = *value;
}

// Elements that are objects become entries, in order; others are skipped.
template <typename Entry, typename ReadEntry>
void ReadList(const CJsonValue& object, const char16_t* name, std::vector<Entry>& list,
              ReadEntry read_entry) {
  const CJsonValue* member = object.Find(name);
  if (!member || !member->IsArray()) return;
  for (const CJsonValue& element : member->Elements()) {
    if (!element.IsObject()) continue;
    Entry entry;
    read_entry(element, entry);
    list.push_back(entry);
  }
}

void ReadButton(const CJsonValue& object, ModuleButton& button) {
  ReadString(object, kButtonText, button.text);
  ReadInteger(object, kButtonId, button.id);
  ReadInteger(object, kButtonType, button.type);
}

void ReadCheckBox(const CJsonValue& object, ModuleCheckBox& check_box) {
  ReadString(object, kCheckBoxText, check_box.text);
  ReadInteger(object, kCheckBoxId, check_box.id);
  ReadBool(object, kCheckBoxChecked, check_box.checked);
}

void ReadSyncRequest(const CJsonValue& object, SyncRequestRecord& sync) {
  const CJsonValue* member = object.Find(kSyncRequest);
  if (!member || !member->IsObject()) return;
  ReadInteger(*member, kMsgType, sync.msg_type);
  ReadString(*member, kDeviceID, sync.device_id);
  ReadString(*member, kDeviceIP, sync.device_ip);
  ReadString(*member, kDeviceName, sync.device_name);
  ReadString(*member, kShare, sync.share);
  ReadString(*member, kShareData, sync.share_data);
}

void ReadNotification(const CJsonValue& root, ModuleMessage& message) {
  if (!HasString(root, kMessageHeader) || !HasString(root, kMessage)) return;
  ReadString(root, kMessageHeader, message.notification_header);
  ReadString(root, kMessage, message.notification_text);
}

void ReadButtonNotification(const CJsonValue& root, ModuleMessage& message) {
  for (const char16_t* name : {kMessageHeader, kMessage, kBtnTitle, kBtnCmdLine}) {
    if (!HasString(root, name)) return;
  }
  ReadString(root, kMessageHeader, message.button_header);
  ReadString(root, kMessage, message.button_text);
  ReadString(root, kBtnTitle, message.button_title);
  ReadString(root, kBtnCmdLine, message.button_command);
}

void ReadMessageBox(const CJsonValue& root, ModuleMessage& message) {
  if (!HasString(root, kMessageHeader) || !HasString(root, kMessage)) return;
  ReadString(root, kMessageHeader, message.box_header);
  ReadString(root, kMessage, message.box_text);
  ReadInteger(root, kShowTimeInMS, message.show_time_ms);
  ReadInteger(root, kIcon, message.icon);
  ReadString(root, kCaptionStyle, message.caption_style);
  ReadString(root, kMessageStyle, message.message_style);
  ReadList(root, kButtons, message.buttons, ReadButton);
  ReadList(root, kCheckBoxes, message.check_boxes, ReadCheckBox);
}

void ReadKindMembers(const CJsonValue& root, ModuleMessage& message) {
  switch (message.kind) {
    case 1:
      ReadInteger(root, kCheck, message.check);
      return;
    case 2:
    case 9:
    case 12:
      ReadSyncRequest(root, message.sync_request);
      return;
    case 3:
      ReadInteger(root, kSwitch, message.requested_switch_state);
      ReadInteger(root, kSwitchParam, message.switch_param);
      return;
    case 4:
      ReadInteger(root, kSwitchState, message.requested_switch_state);
      return;
    case 7:
      ReadNotification(root, message);
      return;
    case 10:
      ReadButtonNotification(root, message);
      return;
    case 11:
      ReadMessageBox(root, message);
      return;
    default:
      return;
  }
}

// --- Writing. Every object is collected in a name-to-value map, so it is
// written in name order.

CJsonValue WriteButtons(const std::vector<ModuleButton>& buttons) {
  CJsonElements elements;
  for (const ModuleButton& button : buttons) {
    CJsonMembers members;
    members.emplace(kButtonText, CJsonValue(button.text));
    members.emplace(kButtonId, CJsonValue(uint64_t{button.id}));
    members.emplace(kButtonType, CJsonValue(uint64_t{button.type}));
    elements.emplace_back(members);
  }
  return CJsonValue(elements);
}

CJsonValue WriteCheckBoxes(const std::vector<ModuleCheckBox>& check_boxes) {
  CJsonElements elements;
  for (const ModuleCheckBox& check_box : check_boxes) {
    CJsonMembers members;
    members.emplace(kCheckBoxText, CJsonValue(check_box.text));
    members.emplace(kCheckBoxId, CJsonValue(int64_t{check_box.id}));
    members.emplace(kCheckBoxChecked, CJsonValue(check_box.checked));
    elements.emplace_back(members);
  }
  return CJsonValue(elements);
}

CJsonValue WriteSyncRequest(const SyncRequestRecord& sync) {
  CJsonMembers members;
  members.emplace(kMsgType, CJsonValue(sync.msg_type));
  members.emplace(kDeviceID, CJsonValue(sync.device_id));
  members.emplace(kDeviceIP, CJsonValue(sync.device_ip));
  members.emplace(kDeviceName, CJsonValue(sync.device_name));
  members.emplace(kShare, CJsonValue(sync.share));
  members.emplace(kShareData, CJsonValue(sync.share_data));
  return CJsonValue(members);
}

void CollectKindMembers(int32_t kind, const ModuleMessage& message, CJsonMembers& members) {
  switch (kind) {
    case 1:
      members.emplace(kCheck, CJsonValue(message.check));
      return;
    case 2:
    case 9:
    case 12:
      members.emplace(kSyncRequest, WriteSyncRequest(message.sync_request));
      return;
    case 3:
      members.emplace(kSwitch, CJsonValue(message.requested_switch_state));
      members.emplace(kSwitchParam, CJsonValue(message.switch_param));
      return;
    case 4:
      members.emplace(kSwitchState, CJsonValue(message.requested_switch_state));
      members.emplace(kSwitchParam, CJsonValue(message.switch_param));
      return;
    case 7:
      members.emplace(kMessageHeader, CJsonValue(message.notification_header));
      members.emplace(kMessage, CJsonValue(message.notification_text));
      return;
    case 10:
      members.emplace(kMessageHeader, CJsonValue(message.button_header));
      members.emplace(kMessage, CJsonValue(message.button_text));
      members.emplace(kBtnTitle, CJsonValue(message.button_title));
      members.emplace(kBtnCmdLine, CJsonValue(message.button_command));
      return;
    case 11:
      members.emplace(kMessageHeader, CJsonValue(message.box_header));
      members.emplace(kMessage, CJsonValue(message.box_text));
      members.emplace(kCaptionStyle, CJsonValue(message.caption_style));
      members.emplace(kMessageStyle, CJsonValue(message.message_style));
      members.emplace(kShowTimeInMS, CJsonValue(message.show_time_ms));
      members.emplace(kIcon, CJsonValue(int64_t{message.icon}));
      members.emplace(kButtons, WriteButtons(message.buttons));
      members.emplace(kCheckBoxes, WriteCheckBoxes(message.check_boxes));
      return;
    default:
      return;
  }
}

KaString WriteText(const CJsonValue& value) {
  KaString text;
  value.Write(text, 0);
  return text;
}

void AddLine(KaString& out, const char16_t* field, const CJsonValue& value) {
  out += field;
  out += u": ";
  out += WriteText(value);
  out += u'\n';
}

}  // namespace

ModuleMessage ReadModuleMessage(const KaString& text) {
  ModuleMessage message;
  if (text.IsEmpty()) return message;
  CJsonValue root;
  if (!root.Parse(text, kModuleMessageReadFlags) || root.Size() == 0 || !root.IsObject()) {
    return message;
  }
  if (!ReadInteger(root, kModuleRequest, message.kind)) return message;
  ReadString(root, kModuleIdentificator, message.module_name);
  if (message.kind >= 1 && message.kind <= 12) ReadKindMembers(root, message);
  return message;
}

KaString WriteModuleReply(ModuleMessage message) {
  CJsonMembers members;
  if (!message.result_text.IsEmpty()) members.emplace(kResultText, CJsonValue(message.result_text));
  if (message.result_level > 0.0) members.emplace(kResultLevel, CJsonValue(message.result_level));
  if (!message.result_description.IsEmpty()) {
    members.emplace(kResultDescription, CJsonValue(message.result_description));
  }
  if (!message.result_details.IsEmpty()) {
    members.emplace(kResultDetails, CJsonValue(message.result_details));
  }
  members.emplace(kModuleIdentificator, CJsonValue(message.module_name));
  members.emplace(kModuleRequest, CJsonValue(message.kind));
  if (message.kind == 4) members.emplace(kSwitchState, CJsonValue(message.current_switch_state));
  if (!message.sub_results.IsEmpty()) members.emplace(kSubResults, CJsonValue(message.sub_results));
  if (!message.reply_check_boxes.empty()) {
    members.emplace(kCheckBoxes, WriteCheckBoxes(message.reply_check_boxes));
  }
  if (!message.reply_buttons.empty()) {
    members.emplace(kButtons, WriteButtons(message.reply_buttons));
  }
  return WriteText(CJsonValue(CJsonElements{CJsonValue(members)}));
}

KaString WriteModuleMessage(int32_t kind, const ModuleMessage& message) {
  CJsonMembers members;
  CollectKindMembers(kind, message, members);
  members.emplace(kModuleRequest, CJsonValue(kind));
  if (kind != 9) members.emplace(kModuleIdentificator, CJsonValue(message.module_name));
  return WriteText(CJsonValue(members));
}

KaString DescribeModuleMessage(const ModuleMessage& m) {
  KaString out;
  AddLine(out, u"kind", CJsonValue(m.kind));
  AddLine(out, u"module name", CJsonValue(m.module_name));
  AddLine(out, u"notification header", CJsonValue(m.notification_header));
  AddLine(out, u"notification text", CJsonValue(m.notification_text));
  AddLine(out, u"button notification header", CJsonValue(m.button_header));
  AddLine(out, u"button notification text", CJsonValue(m.button_text));
  AddLine(out, u"button title", CJsonValue(m.button_title));
  AddLine(out, u"button command line", CJsonValue(m.button_command));
  AddLine(out, u"message box header", CJsonValue(m.box_header));
  AddLine(out, u"message box text", CJsonValue(m.box_text));
  AddLine(out, u"caption style", CJsonValue(m.caption_style));
  AddLine(out, u"message style", CJsonValue(m.message_style));
  AddLine(out, u"display time (ms)", CJsonValue(m.show_time_ms));
  AddLine(out, u"icon", CJsonValue(m.icon));
  AddLine(out, u"buttons", WriteButtons(m.buttons));
  AddLine(out, u"check boxes", WriteCheckBoxes(m.check_boxes));
  AddLine(out, u"check parameter", CJsonValue(m.check));
  AddLine(out, u"requested switch state", CJsonValue(m.requested_switch_state));
  AddLine(out, u"switch parameter", CJsonValue(m.switch_param));
  AddLine(out, u"sync request", WriteSyncRequest(m.sync_request));
  AddLine(out, u"result level", CJsonValue(m.result_level));
  AddLine(out, u"result text", CJsonValue(m.result_text));
  AddLine(out, u"result description", CJsonValue(m.result_description));
  AddLine(out, u"result details", CJsonValue(m.result_details));
  AddLine(out, u"sub-results", CJsonValue(m.sub_results));
  AddLine(out, u"current switch state", CJsonValue(m.current_switch_state));
  AddLine(out, u"reply check boxes", WriteCheckBoxes(m.reply_check_boxes));
  AddLine(out, u"reply buttons", WriteButtons(m.reply_buttons));
  return out;
}

}  // namespace wardex
