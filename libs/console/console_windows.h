// Where the Console's windows live, as the desktop backend sees them: the
// wardex-console process on Linux (console_channel.h), a user-interface
// thread of the module on Windows (win/window_thread.h). Both take the same
// messages and report what the user did as the same events, so that only the
// windows differ between the systems.
#pragma once

#include <cstdint>
#include <functional>

#include "protocol/console_protocol.h"
#include "wardex/message_dialog.h"

namespace wardex::console {

class ConsoleWindows {
 public:
  // Called with what the user did: saved settings (SettingsChosen), a module
  // view's button (ViewButtonPressed) or a tray command (MenuCommandChosen);
  // on the windows' own thread, never the caller's.
  using EventHandler = std::function<void(const ConsoleMessage& event)>;

  virtual ~ConsoleWindows() = default;

  // Shows |dialog|; its on_complete is called exactly once: with the user's
  // answer, or "no button" when it cannot be shown or the windows go.
  virtual void ShowDialog(MessageDialog dialog) = 0;
  // Queues |message|; false when the queue is full or the windows are going.
  virtual bool Send(const ConsoleMessage& message) = 0;
  // What every window must know before it opens (the texts); kept for
  // windows opened later.
  virtual void SetStartMessage(const ConsoleMessage& message) = 0;
  // A fresh identifier for a dialog or view.
  virtual uint32_t NextId() = 0;
};

}  // namespace wardex::console
