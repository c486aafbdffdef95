#include "app/frame_console.h"

namespace wardex {

ConsoleAccess::Use ConsoleAccess::Enter() {
  Use use;
  use.ticket_ = gate_.Enter();
  if (use.ticket_) use.view_ = view_;
  return use;
}

IConsoleView* FrameConsole::CreateView(WindowHandle owner, IConsoleHost* host) {
  view_ = loader_.CreateView();
  if (view_ == nullptr) return nullptr;
  view_->SetOwnerWindow(owner);
  if (IHostedConsole* hosted_view = hosted()) hosted_view->SetConsoleHost(host);
  access_.view_ = view_;
  return view_;
}

IHostedConsole* FrameConsole::hosted() const { return dynamic_cast<IHostedConsole*>(view_); }

FrameConsole::~FrameConsole() {
  if (IHostedConsole* hosted_view = hosted()) hosted_view->SetConsoleHost(nullptr);
  access_.gate_.Close();
  access_.view_ = nullptr;
  for (const auto& [name, loader] : cache_.Snapshot()) {
    IModule* module = loader->instance();
    if (module != nullptr && (module->GetFlags() & kModuleFlagSwitch) != 0) {
      module->SetConsoleView(nullptr);
    }
  }
  loader_.Release();
  view_ = nullptr;
}

}  // namespace wardex
