// A private X display for one test process: an Xvfb server of its own, which
// picks a free display number itself, stopped when the object goes.
#pragma once

#include <string>

#include "support/reporting_server.h"

namespace wardex::test {

class VirtualDisplay {
 public:
  // Starts Xvfb and waits until it accepts clients; ok() tells whether it did.
  VirtualDisplay();

  [[nodiscard]] bool ok() const { return server_.ok(); }
  // ":N", for DISPLAY.
  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] const std::string& error() const { return server_.error(); }
  // Points DISPLAY of this process and of the children it starts at this
  // server, until the object goes.
  void ExportToEnvironment() { server_.Export("DISPLAY", name_); }
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

 private:
  ReportingServer server_;
  std::string name_;
};

}  // namespace wardex::test
