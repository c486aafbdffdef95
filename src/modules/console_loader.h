// ConsoleLoader: the Console module's library (modules/consolemodule/
// ConsoleModule.so), loaded with the trust check, and the view it creates.
#pragma once

#include "osal/ka_path.h"
#include "platform/library_loader.h"
#include "wardex/console_view.h"

namespace wardex {

class ConsoleLoader {
 public:
  ConsoleLoader() = default;
  virtual ~ConsoleLoader();
  ConsoleLoader(const ConsoleLoader&) = delete;
  ConsoleLoader& operator=(const ConsoleLoader&) = delete;

  // The library's place beside the executable.
  static KaOSAL::KaPath GetLibraryPath();

  // Loads the library when none is loaded and creates the view when none
  // exists; returns the view, or null while the Console is absent.
  IConsoleView* Create();
  // The two steps of Create apart: loading runs the library's initialisers
  // under the loader's locks, creating is the library's own code.
  bool LoadLibrary();
  IConsoleView* CreateView();
  // Destroys the view and frees the library.
  void Release();

  IConsoleView* view() const { return view_; }

 private:
  platform::LibraryHandle library_ = nullptr;
  IConsoleView* view_ = nullptr;
};

}  // namespace wardex
