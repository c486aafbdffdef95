// The desktop Console: message dialogs, notifications and news items are
// shown by the wardex-console process (see console_channel.h). The pages and
// module views are not drawn by that process yet; they keep the headless
// backend's behaviour.
#pragma once

#include <string>

#include "console_backend.h"
#include "console_channel.h"
#include "log_backend.h"

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
  void ShowModuleView(const void* view, int32_t mode) override;
  void Refresh() override;

 private:
  LogBackend headless_;  // what the Console process does not show yet
  ConsoleChannel channel_;
};

}  // namespace wardex::console
