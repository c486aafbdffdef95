// The SnapCheck module's quick-check view, as the agent reaches it: the module
// object implements ISnapCheckModule, whose accessor gives the quick-check
// control; the control's second operation gives its window object, which the
// agent converts to IConsoleView with dynamic_cast and shows in the Console.
#pragma once

#include <cstdint>

#include "wardex/console_view.h"
#include "wardex/export.h"
#include "wardex/module.h"
#include "wardex/window_handle.h"

namespace wardex {

// A window object that a module hands the agent. The agent finds out what it
// is with dynamic_cast (a quick-check view is also an IConsoleView), which is
// why this and the other interfaces export their type information.
// On the agent's frame thread.
class WARDEX_INTERFACE IModuleWindow {
 public:
  virtual WindowHandle GetWindowHandle() = 0;

 protected:
  virtual ~IModuleWindow() = default;
};

// The agent calls the control and its module's accessor on its frame thread.
class WARDEX_INTERFACE ISnapCheckControl {
 public:
  // Creates the control's window under |parent| when it does not exist yet.
  virtual bool Create(WindowHandle parent) = 0;
  // The control's window object; the agent passes 0.
  virtual IModuleWindow* GetWindow(int32_t reserved) = 0;

 protected:
  virtual ~ISnapCheckControl() = default;
};

// The SnapCheck module's object: an IModule with the accessor of its
// quick-check control (a member of the object; never null while it lives).
class WARDEX_INTERFACE ISnapCheckModule : public IModule {
 public:
  virtual ISnapCheckControl* GetQuickCheckControl() = 0;

 protected:
  ~ISnapCheckModule() override = default;
};

// The quick-check control of a SnapCheck module instance, or null when the
// instance is no SnapCheck module.
inline ISnapCheckControl* GetQuickCheckControl(IModule* module) {
  auto* snapcheck = dynamic_cast<ISnapCheckModule*>(module);
  return snapcheck == nullptr ? nullptr : snapcheck->GetQuickCheckControl();
}

}  // namespace wardex
