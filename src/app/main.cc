// The wardex executable: the application object, the user-interface thread's
// message loop, and the shell backend chosen from the environment.
//
// Everything after the program name is joined with single blanks into the
// one command-line text that the switches are compared with, so "-register"
// is a switch and "-register " or "-register x" are normal starts. "--help"
// and "--version", each as the whole text, print and end before the agent
// starts; they are no switches of the agent and change nothing else.
#include <string>

#include "app/brisko_tray_app.h"
#include "modules/module_library.h"
#include "osal/wide_format.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/product_version.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "wardex/crashlog.h"

namespace {

constexpr char kUsage[] =
    "Usage: wardex [-register | -unregister | -snapcheck]\n"
    "\n"
    "Starts the tray agent; a second start ends at once. The switches are\n"
    "compared with the whole command line, without regard to case, and may\n"
    "be written with \"/\" instead of \"-\":\n"
    "  -register    run the modules' install-time hooks, then end\n"
    "  -unregister  close other running agents, run the modules' uninstall\n"
    "               hooks, then end\n"
    "  -snapcheck   ask the running agent to show the quick-check view, or\n"
    "               start the agent and show it\n"
    "Anything else starts the agent normally. SIGTERM and SIGINT close it.\n"
    "  --help       print this text and end\n"
    "  --version    print the product's name and version and end\n"
    "\n"
    "Environment: WARDEX_SHELL (headless, desktop, or the full path of a signed\n"
    "shell library), WARDEX_ROOT, the XDG folders, WARDEX_LOG_FILE and\n"
    "WARDEX_LOG_LEVEL (see docs/architecture.md).\n";

std::string JoinArguments(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

// Faults while other static objects are built are reported too; the
// application object installs the handler again (a second install does
// nothing) and removes it when it ends.
[[maybe_unused]] const bool kCrashHandlerAtStart = (InstallCrashHandler(), true);

}  // namespace

int main(int argc, char** argv) {
  wardex::platform::UseOneHeapForAllThreads();
  const std::string command_line = JoinArguments(argc, argv);
  if (command_line == "--help") return wardex::platform::PrintForStarter(kUsage) ? 0 : 1;
  if (command_line == "--version") {
    const std::string version = KaOSAL::ToUtf8(wardex::platform::kProductName) + " " +
                                KaOSAL::ToUtf8(wardex::platform::kProductVersion) + "\n";
    return wardex::platform::PrintForStarter(version) ? 0 : 1;
  }

  wardex::CBriskoTrayApp app;
  wardex::platform::MessageLoop loop;
  // A shell library passes the trust check as every library the agent loads,
  // and stays loaded until its backend is gone.
  wardex::platform::LibraryHandle shell_library = nullptr;
  static_cast<void>(wardex::platform::InstallShellBackendFromEnvironment(
      loop,
      [&shell_library](const std::string& path, const char* name) -> wardex::platform::ProcAddress {
        shell_library = wardex::LoadModuleLibrary(KaOSAL::KaPath(KaOSAL::FromUtf8(path).c_str()));
        return shell_library != nullptr ? wardex::platform::GetProcAddress(shell_library, name)
                                        : nullptr;
      }));
  if (!wardex::platform::RouteTerminationSignals(loop)) {
    LogW(kLogError, u"UI: SIGTERM and SIGINT cannot be routed to the main window");
  }
  const std::u16string wide = KaOSAL::FromUtf8(command_line);
  if (app.InitInstance(KaOSAL::KaString(wide.data(), static_cast<int>(wide.size()))) &&
      wardex::platform::GetMainWindow() != nullptr) {
    loop.Run();
  }
  const int exit_code = app.ExitInstance();
  wardex::platform::StopTerminationSignals();
  // The shell's connection is driven by the loop: it goes first.
  wardex::platform::SetShellBackend(nullptr);
  if (shell_library != nullptr) static_cast<void>(wardex::platform::FreeLibrary(shell_library));
  return exit_code;
}
