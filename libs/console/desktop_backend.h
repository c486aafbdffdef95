// The desktop Console: message dialogs, the information and settings
// windows and module views are shown by the Console's windows (see
// console_windows.h); notifications and news items by the agent's host
// (wardex/console_host.h), which owns their buttons. The windows and views
// need the host too; without it they keep the headless backend's log line,
// as do views of modules that do not describe themselves
// (wardex/module_view.h). Module views are called on the frame's thread
// only: a button pressed in the Console is handed there through the host.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "console_backend.h"
#include "console_windows.h"
#include "dialog_ledger.h"
#include "log_backend.h"
#include "wardex/module_view.h"
#include "wardex/thread_check.h"

namespace wardex::console {

class DesktopBackend final : public ConsoleBackend {
 public:
  // Opens the windows with the handler of what the user does in them.
  using OpenWindows =
      std::function<std::unique_ptr<ConsoleWindows>(ConsoleWindows::EventHandler on_event)>;
  explicit DesktopBackend(const OpenWindows& open_windows);

  void ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                        int32_t seconds, const KaOSAL::KaString& button_title,
                        const KaOSAL::KaString& button_command_line) override;
  void ShowDialog(MessageDialog dialog) override;
  bool ShowNews(const NewsItem& item) override;
  void OpenPage(ConsolePage page) override;
  ModuleViewRegistration ShowModuleView(IConsoleView* view, int32_t mode) override;
  void Refresh() override;
  void SetHost(IConsoleHost* host) override;
  void RunScheduled() override;

 private:
  // The Console's hold on a shown view's link.
  struct LetGoOfLink {
    void operator()(ModuleViewLink* link) const { ModuleViewLink::DropConsole(link); }
  };
  struct ShownView {
    std::unique_ptr<ModuleViewLink, LetGoOfLink> link;
    ShowViewMessage sent;  // the last content sent, with the menu
  };

  // What the user did in the Console; on the windows' thread.
  void OnEvent(const ConsoleMessage& event);
  // Tells the user which settings could not be saved, where and why: the
  // window that chose them has closed.
  void ShowUnsaved(IConsoleHost& host, const std::vector<UnsavedSetting>& unsaved);
  // Reads the texts before the first window, and again on Refresh, and
  // hands them to the windows.
  void SendTexts(bool again);
  // Describes view |id| and sends it; false when it is withdrawn or not sent.
  bool SendView(uint32_t id);
  // Forgets the views nobody holds any more; their windows keep the last
  // content with the buttons greyed.
  void ForgetWithdrawnViews();

  std::atomic<IConsoleHost*> host_{nullptr};
  ThreadChecker frame_thread_;           // bound when the host is set
  LogBackend headless_;                  // what the Console process cannot show
  std::map<uint32_t, ShownView> views_;  // by view id; the frame's thread only
  std::mutex lock_;                      // guards what follows
  bool texts_known_ = false;
  std::vector<ViewButtonPressed> presses_;  // for the frame's thread to deliver
  // Last: its thread stops before the rest goes.
  std::unique_ptr<ConsoleWindows> windows_;
};

}  // namespace wardex::console
