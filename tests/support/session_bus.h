// A private D-Bus session bus for one test: a dbus-daemon of its own on a
// Unix socket in a temporary folder (path sockets reach into the agent's
// private network namespace, abstract ones would not), stopped when the
// object goes.
#pragma once

#include <string>

#include "support/reporting_server.h"

namespace wardex::test {

class PrivateSessionBus {
 public:
  // Starts the daemon and waits until it accepts connections; ok() tells
  // whether it did.
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  [[nodiscard]] bool ok() const { return daemon_.ok(); }
  // The bus address, "unix:path=...", for DBUS_SESSION_BUS_ADDRESS.
  [[nodiscard]] const std::string& address() const { return daemon_.line(); }
  [[nodiscard]] const std::string& error() const { return daemon_.error(); }
  // Points DBUS_SESSION_BUS_ADDRESS of this process (and of the children
  // it starts from now on) at this bus until the object goes.
  void ExportToEnvironment() { daemon_.Export("DBUS_SESSION_BUS_ADDRESS", address()); }
  // Ends the daemon now: the bus going away under its clients.
  bool Stop() { return daemon_.Stop(); }

 private:
  std::string folder_;
  ReportingServer daemon_;
};

}  // namespace wardex::test
