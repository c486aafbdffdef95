// The Console module (ConsoleModule.so, ConsoleModule.dll). Its view hands
// everything it is asked to show to the backend that MakeBackend chose.
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "console_backend.h"
#include "wardex/console_host.h"
#include "wardex/console_view.h"
#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

class ConsoleView final : public IConsoleView, public IHostedConsole {
 public:
  explicit ConsoleView(std::unique_ptr<ConsoleBackend> backend) : backend_(std::move(backend)) {}
  ~ConsoleView() override = default;

  void ShowMessage(KaOSAL::KaString text, KaOSAL::KaString title, int32_t seconds,
                   KaOSAL::KaString button_title, KaOSAL::KaString button_command_line) override {
    backend_->ShowNotification(title, text, seconds, button_title, button_command_line);
  }
  void ShowMessageDialog(MessageDialog dialog) override { backend_->ShowDialog(std::move(dialog)); }
  bool ShowNewsfeed(NewsItem item) override { return backend_->ShowNews(item); }
  void ShowInfo() override { backend_->OpenPage(ConsolePage::kInfo); }
  void ShowSettings() override { backend_->OpenPage(ConsolePage::kSettings); }
  // The module's view is asked to refresh first, so that it describes
  // itself as it is now.
  ModuleViewRegistration ShowModuleView(IConsoleView* view, int32_t mode) override {
    if (view != nullptr && view != this) view->Refresh();
    return backend_->ShowModuleView(view, mode);
  }
  void Refresh() override { backend_->Refresh(); }
  void SetConsoleHost(IConsoleHost* host) override { backend_->SetHost(host); }
  void RunScheduled() override { backend_->RunScheduled(); }
  void SetOwnerWindow(WindowHandle owner) override {
    owner_.store(owner);
    LogW(kLogTrace, u"CONSOLE: owner window %p", static_cast<const void*>(owner));
  }

 private:
  std::unique_ptr<ConsoleBackend> backend_;
  std::atomic<WindowHandle> owner_{nullptr};
};

std::mutex g_lock;
ConsoleView* g_view = nullptr;

}  // namespace
}  // namespace wardex::console

// One view per process; a second CreateConsole returns the same view.
WARDEX_EXPORT wardex::IConsoleView* CreateConsole() {
  using namespace wardex::console;
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_view == nullptr) g_view = new ConsoleView(MakeBackend());
  return g_view;
}

// Pending dialogs are answered "no button" before the view goes.
WARDEX_EXPORT void DestroyConsole() {
  using namespace wardex::console;
  std::lock_guard<std::mutex> hold(g_lock);
  delete g_view;
  g_view = nullptr;
}
