// A private X display for one test process: an Xvfb server of its own, which
// picks a free display number itself, stopped when the object goes.
#pragma once

#include <string>

#include "support/reporting_server.h"

namespace wardex::test {

class VirtualDisplay : public ReportingServer {
 public:
  // Starts Xvfb and waits until it accepts clients; ok() tells whether it did.
  VirtualDisplay();

  // Points DISPLAY of this process and of the children it starts at this
  // server (":N", N the number it reported), until the object goes.
  void ExportToEnvironment() { Export("DISPLAY", ":" + line()); }
  // As ExportToEnvironment, with what GTK windows (the Console's) need there:
  // software drawing, no accessibility bus, and a session bus address that
  // leads nowhere (GTK wants one; the windows use none).
  void ExportForGtk();
  // Waits (up to 30 s) for the window titled |title| on the exported display,
  // focuses it and types |keys| (xdotool key names, blank-separated) into it
  // through the XTEST extension, as a user would.
  [[nodiscard]] static bool TypeInto(const std::string& title, const std::string& keys);
  // Waits (up to 30 s) for a visible window titled |title|.
  [[nodiscard]] static bool WaitForWindow(const std::string& title);
};

}  // namespace wardex::test
