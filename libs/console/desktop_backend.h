// The desktop Console: message dialogs, notifications, news items, the
// information and settings windows and module views are shown by the
// wardex-console process (see console_channel.h). The information and
// settings windows need the agent's host (wardex/console_host.h); without it
// they keep the headless backend's log line, as do views of modules that do
// not describe themselves (wardex/module_view.h).
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "console_backend.h"
#include "console_channel.h"
#include "log_backend.h"
#include "wardex/module_view.h"

namespace wardex::console {

class DesktopBackend final : public ConsoleBackend {
 public:
  explicit DesktopBackend(ConsoleChannel::Options options);

  void ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                        int32_t seconds, const KaOSAL::KaString& button_title,
                        const KaOSAL::KaString& button_command_line) override;
  void ShowDialog(MessageDialog dialog) override;
  bool ShowNews(const NewsItem& item) override;
  void OpenPage(ConsolePage page) override;
  void ShowModuleView(IConsoleView* view, int32_t mode) override;
  void Refresh() override;
  void SetHost(IConsoleHost* host) override;

 private:
  struct ShownView {
    IModuleViewModel* model;
    std::vector<MenuEntry> menu;
  };

  // What the user did in the Console; on the channel's I/O thread.
  void OnEvent(const ConsoleMessage& event);
  // Sends the texts once before the first window, and again on Refresh.
  void SendTexts(bool again);
  // Describes view |id| and sends it; false when it is not known.
  bool SendView(uint32_t id);

  std::atomic<IConsoleHost*> host_{nullptr};
  LogBackend headless_;  // what the Console process cannot show
  std::mutex lock_;      // guards what follows
  bool texts_sent_ = false;
  std::map<uint32_t, ShownView> views_;  // by view id
  std::map<const IModuleViewModel*, uint32_t> view_ids_;
  ConsoleChannel channel_;  // last: its thread stops before the rest goes
};

}  // namespace wardex::console
