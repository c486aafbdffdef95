// The shell backend that tests drive. It keeps the icons as the Windows
// shell does (adding an icon twice fails, changing or removing a missing one
// fails), records every call, and does what the test says: refuse adds, take
// the taskbar down and announce a new one ("TaskbarCreated"), click the icon,
// choose menu items and answer message boxes.
//
// In-process tests call its methods. A test that runs the real binary drives
// it through a control channel (WARDEX_SHELL_TEST_CONTROL, a FIFO that the
// backend creates when the path does not exist) with one command a line:
//   refuse-adds N        the next N NIM_ADD calls fail
//   accept-adds          every NIM_ADD succeeds again
//   taskbar-created      the shell forgets its icons and announces a taskbar
//   click EVENT          the icon's window gets its callback message with
//                        EVENT: lbuttonup, lbuttondblclk, rbuttonup,
//                        balloonclick or a number
//   menu-choice CMD      the next menu shown chooses CMD (0x8012 or decimal;
//                        0 dismisses it); menus without a choice are dismissed
//   messagebox-answer N  message boxes answer N (default IDCANCEL)
// and appends what happened, one line each, to WARDEX_SHELL_TEST_LOG (UTF-8):
//   NIM_ADD ok=1 id=130 flags=0x7 msg=0x800A icon=128 tip="..." state=0x0
//     mask=0x0 info="..." title="..." infoflags=0x0 timeout=0   (one line)
//   MENU chosen=0x8012 default=0 items=0x8010"Start ..."|0x8019g"..."|-|...
//     (g: greyed, -: separator)
//   MESSAGEBOX answer=2 type=0x121 caption="Question" text="Enter Exception?"
//   TASKBARCREATED
//   CLICK event=0x202 delivered=1
// Quotes and backslashes inside texts are written as \" and \\.
// The channel is read only once the loop runs; adds to refuse before that
// (the agent's creation sequence) are given as WARDEX_SHELL_TEST_REFUSE_ADDS=N.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace wardex::platform {

class TestShell : public ShellBackend {
 public:
  struct Call {
    uint32_t message;
    NOTIFYICONDATAW data;
    bool result;
  };

  // |log_path| empty: no log file.
  explicit TestShell(std::string log_path = {});
  ~TestShell() override;
  TestShell(const TestShell&) = delete;
  TestShell& operator=(const TestShell&) = delete;

  bool NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) override;
  uint32_t TrackPopupMenu(const Menu& popup, HWND owner) override;
  int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                 uint32_t type) override;

  // Reads commands from the FIFO at |control_path| on |loop|'s thread. A
  // listening shell is released on that thread, or after the loop ended.
  [[nodiscard]] bool ListenOn(MessageLoop& loop, const std::string& control_path);
  // Runs one control command line; false for an unknown or malformed one.
  bool RunCommand(const std::string& line);

  void RefuseAdds(int count);
  void AcceptAdds();
  // The shell restarts: its icons are gone, and every window is told
  // "TaskbarCreated".
  void AnnounceTaskbar();
  // Posts the icon's callback message (id, |event|) to the window of the
  // icon added last; false when no icon is there.
  bool Click(UINT event);
  void QueueMenuChoice(uint32_t command);
  void SetMessageBoxAnswer(int answer);

  [[nodiscard]] std::vector<Call> calls() const;
  // The menus shown, as their MENU log lines.
  [[nodiscard]] std::vector<std::string> menus() const;
  // The icon as the shell holds it, if it is there.
  [[nodiscard]] bool FindIcon(UINT id, NOTIFYICONDATAW* icon) const;

 private:
  void Log(const std::string& line);
  void OnControlReadable(int fd);

  mutable std::mutex mutex_;
  std::string log_path_;
  std::map<UINT, NOTIFYICONDATAW> icons_;
  UINT last_added_ = 0;
  bool has_icon_ = false;
  int refuse_adds_ = 0;
  std::deque<uint32_t> menu_choices_;
  int message_box_answer_ = IDCANCEL;
  std::vector<Call> calls_;
  std::vector<std::string> menus_;
  MessageLoop* loop_ = nullptr;
  int control_fd_ = -1;
  std::string control_buffer_;
};

}  // namespace wardex::platform
