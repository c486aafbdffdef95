// A private D-Bus session bus for one test: a dbus-daemon of its own on a
// Unix socket in a temporary folder (path sockets reach into the agent's
// private network namespace, abstract ones would not), stopped when the
// object goes.
#pragma once

#include <string>

#include "support/reporting_server.h"

namespace wardex::test {

class PrivateSessionBus : public ReportingServer {
 public:
  // Starts the daemon and waits until it accepts connections; ok() tells
  // whether it did.
  PrivateSessionBus();

  // The bus address, "unix:path=...", for DBUS_SESSION_BUS_ADDRESS.
  [[nodiscard]] const std::string& address() const { return line(); }
  // Points DBUS_SESSION_BUS_ADDRESS of this process (and of the children
  // it starts from now on) at this bus until the object goes.
  void ExportToEnvironment() { Export("DBUS_SESSION_BUS_ADDRESS", address()); }
  // Stop() ends the daemon now: the bus going away under its clients.
};

}  // namespace wardex::test
