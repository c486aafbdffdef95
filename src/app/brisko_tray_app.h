// CBriskoTrayApp: the application object. InitInstance fixes the working
// directory, starts the process-wide services, carries out the maintenance
// switches and otherwise keeps one agent per user running with its hidden
// main frame; ExitInstance stops the services again.
#pragma once

#include <memory>

#include "app/main_frame.h"
#include "osal/ka_string.h"
#include "platform/named_objects.h"

namespace wardex {

// The switches, compared with the whole command line without regard to case.
inline constexpr const char16_t* kRegisterSwitches[] = {u"-register", u"/register"};
inline constexpr const char16_t* kUnregisterSwitches[] = {u"-unregister", u"/unregister"};
inline constexpr const char16_t* kSnapCheckSwitches[] = {u"-snapcheck", u"/snapcheck"};

// What the command line asks for.
enum class StartMode { kNormal, kRegister, kUnregister, kSnapCheck };

// |command_line| is everything after the program name, as one text: a switch
// counts only when it is the whole text (a trailing blank is a normal start).
[[nodiscard]] StartMode ParseStartMode(const KaOSAL::KaString& command_line);

class CBriskoTrayApp {
 public:
  // Brings the configured language in line with the system's where asked
  // for, and installs the crash handler.
  CBriskoTrayApp();
  // Removes the crash handler.
  ~CBriskoTrayApp();
  CBriskoTrayApp(const CBriskoTrayApp&) = delete;
  CBriskoTrayApp& operator=(const CBriskoTrayApp&) = delete;

  // True keeps the process running when a main window was loaded; false
  // ends it. Must run on the thread of the user-interface message loop.
  [[nodiscard]] bool InitInstance(const KaOSAL::KaString& command_line);
  // Releases the frame when it is still held and the process-wide services;
  // returns the exit code.
  int ExitInstance();

  [[nodiscard]] CMainFrame* main_frame() const { return main_frame_.get(); }

 private:
  // The maintenance switches; both end the process.
  void RegisterAll();
  void UnregisterAll();
  // Loads the main frame, retrying for about 80 seconds; true when loaded.
  bool LoadMainFrame();

  KaOSAL::KaString executable_path_;
  // Held for the life of the process: its existence is the single-instance signal.
  std::unique_ptr<platform::NamedSemaphore> instance_semaphore_;
  std::unique_ptr<CMainFrame> main_frame_;
};

}  // namespace wardex
