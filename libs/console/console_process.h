// The Console process: wardex-console started with one end of a socket pair
// as its descriptor kConsoleSocketFd; the other end is ours. Destroying the
// object ends the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/process.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::console {

class ConsoleProcess {
 public:
  // Starts |program|; null, logged, when it cannot be started.
  [[nodiscard]] static std::unique_ptr<ConsoleProcess> Start(const std::string& program);
  // Closes our end of the socket, which ends the Console, and reaps it; one
  // that has not ended within a grace time is killed.
  ~ConsoleProcess();
  ConsoleProcess(const ConsoleProcess&) = delete;
  ConsoleProcess& operator=(const ConsoleProcess&) = delete;

  [[nodiscard]] int socket() const { return socket_.get(); }
  [[nodiscard]] uint32_t id() const { return child_->id(); }

 private:
  ConsoleProcess(platform::ScopedFd socket, std::unique_ptr<platform::ChildProcess> child)
      : socket_(std::move(socket)), child_(std::move(child)) {}

  platform::ScopedFd socket_;
  std::unique_ptr<platform::ChildProcess> child_;
};

}  // namespace wardex::console
