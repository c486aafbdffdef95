// The Console as the main frame holds it. FrameConsole owns the loaded
// module and its view on the user-interface thread; ConsoleAccess is how
// the other threads (pipe callbacks, the news check) reach the view: behind
// a gate that FrameConsole closes, and waits on, before it lets the view go.
// ConsoleAccess therefore outlives those threads' owners, FrameConsole not.
#pragma once

#include "modules/callback_gate.h"
#include "modules/console_loader.h"
#include "modules/module_cache.h"
#include "wardex/console_host.h"
#include "wardex/console_view.h"
#include "wardex/window_handle.h"

namespace wardex {

class ConsoleAccess {
 public:
  // The view for one use; null when there is no Console (any more).
  class Use {
   public:
    IConsoleView* operator->() const { return view_; }
    IConsoleView* get() const { return view_; }
    explicit operator bool() const { return view_ != nullptr; }

   private:
    friend class ConsoleAccess;
    CallbackGate::Ticket ticket_;
    IConsoleView* view_ = nullptr;
  };

  [[nodiscard]] Use Enter();
  // True once the frame lets go of the Console: waits for it end then.
  [[nodiscard]] bool closing() const { return gate_.closed(); }

 private:
  friend class FrameConsole;
  CallbackGate gate_;
  IConsoleView* view_ = nullptr;  // set once before other threads come; kept until the gate closes
};

class FrameConsole {
 public:
  FrameConsole(ConsoleAccess& access, ModuleCache& cache) : access_(access), cache_(cache) {}
  // Takes the host back (which ends the Console's waits for its process),
  // closes the access and waits for the threads inside, takes the view back
  // from cached switch modules (pipe requests handed it to them) and
  // releases the Console.
  ~FrameConsole();
  FrameConsole(const FrameConsole&) = delete;
  FrameConsole& operator=(const FrameConsole&) = delete;

  // Loads the library; outside any guard, since its initialisers run under
  // the loader's locks.
  void LoadLibrary() { static_cast<void>(loader_.LoadLibrary()); }
  // Plug-in code: creates the view, hands it the frame's window and |host|
  // and opens the access. Null while the Console is absent.
  IConsoleView* CreateView(WindowHandle owner, IConsoleHost* host);

  // The view on the user-interface thread; null without a Console.
  [[nodiscard]] IConsoleView* view() const { return view_; }
  // The view's hosted part, null for a Console that takes no host.
  [[nodiscard]] IHostedConsole* hosted() const;

 private:
  ConsoleAccess& access_;
  ModuleCache& cache_;
  ConsoleLoader loader_;
  IConsoleView* view_ = nullptr;
};

}  // namespace wardex
