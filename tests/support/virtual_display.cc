#include "support/virtual_display.h"

#include <cstdlib>

namespace wardex::test {

// Xvfb writes its display number to its output once it accepts clients.
VirtualDisplay::VirtualDisplay()
    : server_({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24",
               "-noreset"}),
      name_(":" + server_.line()) {}

void VirtualDisplay::ExportForGtk() {
  ExportToEnvironment();
  server_.Export("GSK_RENDERER", "cairo");
  server_.Export("GTK_A11Y", "none");
  server_.Export("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
}

bool VirtualDisplay::WaitForWindow(const std::string& title) {
  const std::string search =
      "timeout 30 xdotool search --sync --onlyvisible --name '^" + title + "$' >/dev/null 2>&1";
  return system(search.c_str()) == 0;
}

bool VirtualDisplay::TypeInto(const std::string& title, const std::string& keys) {
  const std::string focus = "timeout 30 xdotool search --sync --onlyvisible --name '^" + title +
                            "$' windowfocus --sync >/dev/null 2>&1";
  const std::string type = "timeout 30 xdotool key " + keys + " >/dev/null 2>&1";
  return system(focus.c_str()) == 0 && system(type.c_str()) == 0;
}

}  // namespace wardex::test
