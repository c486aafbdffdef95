// The messages between ConsoleModule.so (inside the agent) and the
// wardex-console process, over a socket pair. A frame is a 32-bit
// little-endian payload length followed by the payload: a one-byte message
// type and its fields. Texts are UTF-8 with a 32-bit length before them;
// integers are 32-bit little-endian. Each side rejects a frame that breaks a
// limit and drops the connection, so neither can make the other allocate
// without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace wardex::console {

inline constexpr uint32_t kMaxFrameBytes = 1u << 20;
// Longer texts are cut by the sender: no window shows more usefully.
inline constexpr uint32_t kMaxTextBytes = 64u * 1024u;
// A dialog shows at most this many buttons and check boxes; the sender drops
// the rest (they could not be laid out on any screen).
inline constexpr uint32_t kMaxDialogButtons = 16;
inline constexpr uint32_t kMaxDialogCheckBoxes = 16;
// The information, settings and module-view windows' lists.
inline constexpr uint32_t kMaxListEntries = 64;
inline constexpr uint32_t kMaxTextEntries = 128;
// The texts in those lists are cut to this by the sender, so that a full
// list stays within a frame.
inline constexpr uint32_t kMaxItemTextBytes = 4u * 1024u;
// The descriptor on which wardex-console finds its end of the socket pair.
inline constexpr int kConsoleSocketFd = 3;

// Agent to Console.
struct Ping {
  uint32_t serial = 0;
};
struct DialogButton {
  std::string title;
  int32_t value = 0;
};
struct DialogCheckBox {
  std::string title;
  bool checked = false;
};
struct ShowDialogMessage {
  uint32_t id = 0;
  std::string header;
  std::string message;
  std::string caption_style;
  std::string message_style;
  int32_t icon = 0;
  uint32_t show_time_ms = 0;  // 0: until the user answers
  std::vector<DialogButton> buttons;
  std::vector<DialogCheckBox> check_boxes;
};
// The Console's texts that the agent owns, from its language files; sent
// before the first window and again on Refresh, which open windows follow.
struct TextEntry {
  std::string key;
  std::string value;
};
struct SetTexts {
  std::string product_name;
  std::vector<TextEntry> texts;  // the window texts by key (CONSOLE_...)
};
// The information window.
struct ModuleEntry {
  std::string name;
  std::string signer;
};
struct ShowInfoMessage {
  std::string product_name;
  std::string edition;
  std::string version;
  std::string computer_id;
  std::string log_file;
  std::vector<ModuleEntry> modules;
  std::vector<std::string> about;
};
// The settings window; the Console answers with SettingsChosen when the user
// saves.
struct LanguageEntry {
  std::string code;
  std::string name;  // as a person reads it
};
struct ShowSettingsMessage {
  std::string language;  // the code in use
  std::vector<LanguageEntry> languages;
  bool start_at_logon = false;
  bool news = true;
};
// A module's view (see wardex/module_view.h), with the tray menu's commands
// when |menu| is not empty. A message with the id of an open view replaces
// its content.
struct ViewRowData {
  std::string label;
  std::string value;
  int32_t progress = -1;  // 0 to 100, -1 for none
};
struct ViewButtonData {
  int32_t id = 0;
  std::string title;
  bool enabled = true;
};
struct MenuEntry {
  uint32_t command = 0;
  std::string title;
  bool enabled = true;
};
struct ShowViewMessage {
  uint32_t view_id = 0;
  std::string title;
  std::vector<ViewRowData> rows;
  std::vector<ViewButtonData> buttons;
  std::vector<MenuEntry> menu;
};

// Console to agent.
struct Pong {
  uint32_t serial = 0;
};
struct DialogAnswer {
  uint32_t id = 0;
  int32_t button = -1;           // the pressed button's value, -1 for none
  std::vector<uint8_t> checked;  // 1 when ticked, in the order the boxes were sent
};
struct SettingsChosen {
  std::string language;
  bool start_at_logon = false;
  bool news = true;
};
struct ViewButtonPressed {
  uint32_t view_id = 0;
  int32_t button_id = 0;
};
// A tray menu command chosen in a Console window.
struct MenuCommandChosen {
  uint32_t command = 0;
};

// Notifications are not the Console's: the agent shows them (see
// wardex/console_host.h), so their buttons work while no Console runs.
using ConsoleMessage = std::variant<Ping, ShowDialogMessage, SetTexts, ShowInfoMessage,
                                    ShowSettingsMessage, ShowViewMessage, Pong, DialogAnswer,
                                    SettingsChosen, ViewButtonPressed, MenuCommandChosen>;

// The frame of |message|, length included. Texts and lists must already be
// within the limits (see FitDialog and FitText).
std::string EncodeFrame(const ConsoleMessage& message);

// False when |payload| is not exactly one well-formed message within the limits.
bool DecodePayload(std::string_view payload, ConsoleMessage* message);

// |text| cut to at most |max_bytes| without splitting a UTF-8 sequence.
std::string FitText(std::string_view text, size_t max_bytes = kMaxTextBytes);

// Collects bytes from a stream and hands out whole messages.
class FrameReader {
 public:
  enum class Status { kMessage, kNeedMore, kMalformed };

  void Append(const char* data, size_t size);
  // kMalformed is final: the stream cannot be resynchronised.
  Status Next(ConsoleMessage* message);

 private:
  std::string buffer_;
  size_t consumed_ = 0;
  bool broken_ = false;
};

}  // namespace wardex::console
