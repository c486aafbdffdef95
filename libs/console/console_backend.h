// Where the Console's view sends what it shows. The headless backend logs;
// the desktop backend (desktop_backend.h) implements the same operations
// with windows, so the view and the exports stay as they are.
#pragma once

#include <cstdint>
#include <memory>

#include "osal/ka_string.h"
#include "wardex/console_host.h"
#include "wardex/console_view.h"
#include "wardex/message_dialog.h"
#include "wardex/module_view.h"
#include "wardex/news_item.h"

namespace wardex::console {

enum class ConsolePage { kSettings, kInfo };

class ConsoleBackend {
 public:
  virtual ~ConsoleBackend() = default;

  // A notification shown for |seconds|; one button when |button_title| is not empty.
  virtual void ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                                int32_t seconds, const KaOSAL::KaString& button_title,
                                const KaOSAL::KaString& button_command_line) = 0;
  // Shows the dialog and answers it later through its on_complete, exactly once.
  virtual void ShowDialog(MessageDialog dialog) = 0;
  // True when the item was shown.
  virtual bool ShowNews(const NewsItem& item) = 0;
  virtual void OpenPage(ConsolePage page) = 0;
  // Another module's view, shown inside the Console while the registration
  // is held.
  virtual ModuleViewRegistration ShowModuleView(IConsoleView* view, int32_t mode) = 0;
  virtual void Refresh() = 0;
  // The agent's host, null once it goes; the headless backend needs none.
  virtual void SetHost(IConsoleHost* /*host*/) {}
  // On the frame's thread, when the host runs what was scheduled there.
  virtual void RunScheduled() {}
};

// The backend for this process: the desktop one where windows can be shown,
// else the headless one, which logs (log_backend.h).
[[nodiscard]] std::unique_ptr<ConsoleBackend> MakeBackend();

}  // namespace wardex::console
