// The Console module's view: the suite's visible user interface inside the
// agent. The Console library exports CreateConsole and DestroyConsole; the
// agent hands the view to the modules that want it and shows messages,
// dialogs, news items and other modules' views through it.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "wardex/export.h"
#include "wardex/message_dialog.h"
#include "wardex/module_view.h"
#include "wardex/news_item.h"
#include "wardex/window_handle.h"

namespace wardex {

class WARDEX_INTERFACE IConsoleView {
 public:
  // A notification: shown for |seconds|, with one button when |button_title| is
  // not empty; the button runs |button_command_line|. Any thread; returns at once.
  virtual void ShowMessage(KaOSAL::KaString text, KaOSAL::KaString title, int32_t seconds,
                           KaOSAL::KaString button_title, KaOSAL::KaString button_command_line) = 0;
  // Any thread; returns at once. The answer comes through dialog.on_complete.
  virtual void ShowMessageDialog(MessageDialog dialog) = 0;
  // Returns true when the item was shown. The news-feed thread; may wait
  // for the Console, but not once the agent took its host back.
  virtual bool ShowNewsfeed(NewsItem item) = 0;
  // The frame's thread.
  virtual void ShowInfo() = 0;
  virtual void ShowSettings() = 0;
  // Shows another module's view inside the Console; the agent passes mode 1.
  // The view stays shown while the registration is held (wardex/module_view.h);
  // an empty one when nothing keeps a hold on it. The frame's thread.
  virtual ModuleViewRegistration ShowModuleView(IConsoleView* view, int32_t mode) = 0;
  // Re-reads product names and texts. Any thread.
  virtual void Refresh() = 0;
  // The agent's main window, once after creation, on the frame's thread.
  virtual void SetOwnerWindow(WindowHandle owner) = 0;

 protected:
  // Only DestroyConsole (or the module that made a view) deletes it.
  virtual ~IConsoleView() = default;
};

// Exports of the Console library.
inline constexpr char kCreateConsoleExport[] = "CreateConsole";
inline constexpr char kDestroyConsoleExport[] = "DestroyConsole";

// Returns the view or null. The frame's thread.
using CreateConsoleFn = IConsoleView* (*)();
// Releases the view that CreateConsole returned. The frame's thread.
using DestroyConsoleFn = void (*)();

}  // namespace wardex
