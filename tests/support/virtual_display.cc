#include "support/virtual_display.h"

#include <cstdlib>

namespace wardex::test {

// Xvfb writes its display number to its output once it accepts clients.
VirtualDisplay::VirtualDisplay()
    : ReportingServer([](const std::string&) {
        return std::vector<std::string>{"Xvfb",    "-displayfd", "1",           "-nolisten", "tcp",
                                        "-screen", "0",          "1024x768x24", "-noreset"};
      }) {}

void VirtualDisplay::ExportForGtk() {
  ExportToEnvironment();
  Export("GSK_RENDERER", "cairo");
  Export("GTK_A11Y", "none");
  Export("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
}

// Runs xdotool with |arguments|, for 30 s at most.
static bool XdoTool(const std::string& arguments) {
  return system(("timeout 30 xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool VirtualDisplay::WaitForWindow(const std::string& title) {
  return XdoTool("search --sync --onlyvisible --name '^" + title + "$'");
}

bool VirtualDisplay::TypeInto(const std::string& title, const std::string& keys) {
  return XdoTool("search --sync --onlyvisible --name '^" + title + "$' windowfocus --sync") &&
         XdoTool("key " + keys);
}

}  // namespace wardex::test
