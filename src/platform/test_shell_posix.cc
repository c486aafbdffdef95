#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/headless_shell.h"
#include "platform/test_shell.h"
#include "platform/ui.h"
#include "wardex/crashlog.h"

namespace wardex::platform {

namespace {

constexpr const char* kMessageNames[] = {"NIM_ADD", "NIM_MODIFY", "NIM_DELETE", "NIM_SETFOCUS",
                                         "NIM_SETVERSION"};

// |text| as a quoted UTF-8 field of a log line.
std::string Quoted(const char16_t* text) {
  std::string result = "\"";
  for (char c : KaOSAL::ToUtf8(std::u16string(text))) {
    if (c == '"' || c == '\\') result += '\\';
    result += c;
  }
  return result + "\"";
}

std::string Hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%X", value);
  return buffer;
}

std::string CallLine(uint32_t message, const NOTIFYICONDATAW& data, bool result) {
  std::ostringstream line;
  line << (message < std::size(kMessageNames) ? kMessageNames[message] : "NIM_" + Hex(message))
       << " ok=" << (result ? 1 : 0) << " id=" << data.uID << " flags=" << Hex(data.uFlags)
       << " msg=" << Hex(data.uCallbackMessage)
       << " icon=" << (data.hIcon != nullptr ? data.hIcon->resource->id : 0)
       << " tip=" << Quoted(data.szTip) << " state=" << Hex(data.dwState)
       << " mask=" << Hex(data.dwStateMask) << " info=" << Quoted(data.szInfo)
       << " title=" << Quoted(data.szInfoTitle) << " infoflags=" << Hex(data.dwInfoFlags)
       << " timeout=" << data.uTimeout;
  return line.str();
}

std::string MenuLine(const Menu& popup, uint32_t chosen) {
  std::ostringstream line;
  const uint32_t default_item = popup.GetDefaultItem(true);
  line << "MENU chosen=" << Hex(chosen) << " default="
       << (default_item == kNoMenuItem ? std::string("-") : std::to_string(default_item))
       << " items=";
  bool first = true;
  for (const Menu::Item& item : popup.items()) {
    if (!first) line << '|';
    first = false;
    if (item.separator) {
      line << '-';
      continue;
    }
    line << Hex(item.command) << ((item.state & (MF_GRAYED | MF_DISABLED)) != 0 ? "g" : "")
         << Quoted(item.text.c_str());
  }
  return line.str();
}

// The number in |text| (decimal or 0x hexadecimal); false when it is none.
bool ParseNumber(const std::string& text, uint32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != 0 || parsed > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

// The mouse event named |name|, or a number.
bool ParseEvent(const std::string& name, uint32_t* event) {
  static const std::pair<const char*, uint32_t> kEvents[] = {
      {"lbuttonup", WM_LBUTTONUP},
      {"lbuttondblclk", WM_LBUTTONDBLCLK},
      {"rbuttonup", WM_RBUTTONUP},
      {"balloonclick", NIN_BALLOONUSERCLICK}};
  for (const auto& [known, value] : kEvents) {
    if (name == known) {
      *event = value;
      return true;
    }
  }
  return ParseNumber(name, event);
}

}  // namespace

TestShell::TestShell(std::string log_path) : log_path_(std::move(log_path)) {}

TestShell::~TestShell() {
  if (control_fd_ >= 0) {
    // Once the loop has ended its watches are gone with it.
    if (loop_ != nullptr && MessageLoop::Current() == loop_) loop_->UnwatchFd(control_fd_);
    close(control_fd_);
  }
}

void TestShell::Log(const std::string& line) {
  if (log_path_.empty()) return;
  std::ofstream out(log_path_, std::ios::app);
  out << line << '\n';
}

bool TestShell::NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) {
  std::lock_guard lock(mutex_);
  bool result = false;
  auto icon = icons_.find(data.uID);
  switch (message) {
    case NIM_ADD:
      if (refuse_adds_ > 0) {
        --refuse_adds_;
      } else if (icon == icons_.end()) {
        MergeNotifyIconData(data, &(icons_[data.uID] = NOTIFYICONDATAW{}));
        last_added_ = data.uID;
        has_icon_ = true;
        result = true;
      }
      break;
    case NIM_MODIFY:
      if (icon != icons_.end()) {
        MergeNotifyIconData(data, &icon->second);
        result = true;
      }
      break;
    case NIM_DELETE:
      if (icon != icons_.end()) {
        icons_.erase(icon);
        result = true;
      }
      break;
    case NIM_SETFOCUS:
    case NIM_SETVERSION:
      result = icon != icons_.end();
      break;
    default:
      break;
  }
  calls_.push_back(Call{message, data, result});
  Log(CallLine(message, data, result));
  return result;
}

uint32_t TestShell::TrackPopupMenu(const Menu& popup, HWND /*owner*/) {
  std::lock_guard lock(mutex_);
  uint32_t chosen = 0;
  if (!menu_choices_.empty()) {
    chosen = menu_choices_.front();
    menu_choices_.pop_front();
  }
  menus_.push_back(MenuLine(popup, chosen));
  Log(menus_.back());
  return chosen;
}

int TestShell::MessageBox(HWND /*owner*/, const KaOSAL::KaString& text,
                          const KaOSAL::KaString& caption, uint32_t type) {
  std::lock_guard lock(mutex_);
  Log("MESSAGEBOX answer=" + std::to_string(message_box_answer_) + " type=" + Hex(type) +
      " caption=" + Quoted(caption.c_str()) + " text=" + Quoted(text.c_str()));
  return message_box_answer_;
}

void TestShell::RefuseAdds(int count) {
  std::lock_guard lock(mutex_);
  refuse_adds_ = count;
}

void TestShell::AcceptAdds() { RefuseAdds(0); }

void TestShell::AnnounceTaskbar() {
  {
    std::lock_guard lock(mutex_);
    icons_.clear();
    has_icon_ = false;
    Log("TASKBARCREATED");
  }
  BroadcastMessage(RegisterWindowMessage(u"TaskbarCreated"), 0, 0);
}

bool TestShell::Click(UINT event) {
  std::lock_guard lock(mutex_);
  auto icon = icons_.find(last_added_);
  const bool delivered =
      has_icon_ && icon != icons_.end() &&
      PostMessage(icon->second.hWnd, icon->second.uCallbackMessage, icon->second.uID, event);
  Log("CLICK event=" + Hex(event) + " delivered=" + (delivered ? "1" : "0"));
  return delivered;
}

void TestShell::QueueMenuChoice(uint32_t command) {
  std::lock_guard lock(mutex_);
  menu_choices_.push_back(command);
}

void TestShell::SetMessageBoxAnswer(int answer) {
  std::lock_guard lock(mutex_);
  message_box_answer_ = answer;
}

std::vector<TestShell::Call> TestShell::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> TestShell::menus() const {
  std::lock_guard lock(mutex_);
  return menus_;
}

bool TestShell::FindIcon(UINT id, NOTIFYICONDATAW* icon) const {
  std::lock_guard lock(mutex_);
  auto found = icons_.find(id);
  if (found == icons_.end()) return false;
  *icon = found->second;
  return true;
}

bool TestShell::RunCommand(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  std::string argument;
  words >> command >> argument;
  uint32_t value = 0;
  if (command == "refuse-adds" && ParseNumber(argument, &value)) {
    RefuseAdds(static_cast<int>(value));
  } else if (command == "accept-adds") {
    AcceptAdds();
  } else if (command == "taskbar-created") {
    AnnounceTaskbar();
  } else if (command == "click" && ParseEvent(argument, &value)) {
    Click(value);
  } else if (command == "menu-choice" && ParseNumber(argument, &value)) {
    QueueMenuChoice(value);
  } else if (command == "messagebox-answer" && ParseNumber(argument, &value)) {
    SetMessageBoxAnswer(static_cast<int>(value));
  } else {
    LogW(kLogError, u"SHELL: unknown test command \"%S\"", line.c_str());
    return false;
  }
  return true;
}

bool TestShell::ListenOn(MessageLoop& loop, const std::string& control_path) {
  if (mkfifo(control_path.c_str(), 0600) != 0 && errno != EEXIST) {
    KaOSAL::SetLastErrorFromErrno(errno);
    LogW(kLogSysFail, u"SHELL: cannot create the test control channel %S, errno %d",
         control_path.c_str(), errno);
    return false;
  }
  // Opened for writing too, so the channel never reports end-of-file when a
  // test's writer closes it.
  control_fd_ = open(control_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (control_fd_ < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    LogW(kLogSysFail, u"SHELL: cannot open the test control channel %S, errno %d",
         control_path.c_str(), errno);
    return false;
  }
  loop_ = &loop;
  loop.WatchFd(control_fd_, MessageLoop::kReadable,
               [this](int fd, short) { OnControlReadable(fd); });
  return true;
}

void TestShell::OnControlReadable(int fd) {
  char buffer[512];
  ssize_t count;
  while ((count = read(fd, buffer, sizeof(buffer))) > 0) control_buffer_.append(buffer, count);
  size_t end;
  while ((end = control_buffer_.find('\n')) != std::string::npos) {
    std::string line = control_buffer_.substr(0, end);
    control_buffer_.erase(0, end + 1);
    if (!line.empty()) RunCommand(line);
  }
}

}  // namespace wardex::platform
