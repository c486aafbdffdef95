// The headless Console: every view operation becomes a log line (level 8,
// "CONSOLE: ..."); message dialogs are answered by a DialogAnswerer.
#pragma once

#include "console_backend.h"
#include "dialog_answerer.h"

namespace wardex::console {

class LogBackend final : public ConsoleBackend {
 public:
  void ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                        int32_t seconds, const KaOSAL::KaString& button_title,
                        const KaOSAL::KaString& button_command_line) override;
  void ShowDialog(MessageDialog dialog) override;
  bool ShowNews(const NewsItem& item) override;
  void OpenPage(ConsolePage page) override;
  ModuleViewRegistration ShowModuleView(IConsoleView* view, int32_t mode) override;
  void Refresh() override;

 private:
  DialogAnswerer answerer_;
};

}  // namespace wardex::console
