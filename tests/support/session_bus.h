// A private D-Bus session bus for one test: a dbus-daemon of its own on a
// Unix socket in a temporary folder (path sockets reach into the agent's
// private network namespace, abstract ones would not), stopped when the
// object goes.
#pragma once

#include <sys/types.h>

#include <string>

namespace wardex::test {

class PrivateSessionBus {
 public:
  // Starts the daemon and waits until it accepts connections; ok() tells
  // whether it did.
  PrivateSessionBus();
  // Stops the daemon and restores DBUS_SESSION_BUS_ADDRESS if it was set.
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  [[nodiscard]] bool ok() const { return pid_ > 0; }
  // The bus address, "unix:path=...", for DBUS_SESSION_BUS_ADDRESS.
  [[nodiscard]] const std::string& address() const { return address_; }
  // Why the daemon did not start, for a test's skip or failure message.
  [[nodiscard]] const std::string& error() const { return error_; }

  // Points DBUS_SESSION_BUS_ADDRESS of this process (and of the children
  // it starts from now on) at this bus until the object goes.
  void ExportToEnvironment();
  // Ends the daemon now (SIGTERM, then SIGKILL after 5 s) and reaps it: the
  // bus going away under its clients. True when it ended.
  bool Stop();

 private:
  bool Start();

  std::string folder_;
  std::string address_;
  std::string error_;
  pid_t pid_ = -1;
  bool exported_ = false;
  std::string saved_address_;
  bool had_address_ = false;
};

}  // namespace wardex::test
