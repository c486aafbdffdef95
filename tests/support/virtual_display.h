// A private X display for one test process: an Xvfb server of its own, which
// picks a free display number itself, stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

namespace wardex::test {

class VirtualDisplay {
 public:
  // Starts Xvfb and waits until it accepts clients; ok() tells whether it did.
  VirtualDisplay();
  // Stops the server and restores DISPLAY as it was.
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  [[nodiscard]] bool ok() const { return pid_ > 0; }
  // ":N", for DISPLAY.
  [[nodiscard]] const std::string& name() const { return name_; }
  // Why the server did not start.
  [[nodiscard]] const std::string& error() const { return error_; }

  // Points DISPLAY of this process and of the children it starts at this server.
  void ExportToEnvironment();
  // Waits (up to 30 s) for the window titled |title| on the exported display,
  // focuses it and types |keys| (xdotool key names, blank-separated) into it
  // through the XTEST extension, as a user would.
  [[nodiscard]] static bool TypeInto(const std::string& title, const std::string& keys);
  // Waits (up to 30 s) for a visible window titled |title|.
  [[nodiscard]] static bool WaitForWindow(const std::string& title);

 private:
  std::string name_;
  std::string error_;
  pid_t pid_ = -1;
  bool exported_ = false;
  bool had_display_ = false;
  std::string saved_display_;
};

}  // namespace wardex::test
