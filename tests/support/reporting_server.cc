#include "support/reporting_server.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "support/wait.h"

namespace wardex::test {
namespace {

// Not below TMPDIR, which tests point at folders whose files they count.
std::string MakeFolder() {
  char folder[] = "/tmp/wardex-server-XXXXXX";
  return mkdtemp(folder) != nullptr ? folder : "/nonexistent";
}

}  // namespace

// Generous: the test machine is shared and slow under load.
ReportingServer::ReportingServer(
    const std::function<std::vector<std::string>(const std::string& folder)>& argv)
    : folder_(MakeFolder()),
      command_(argv(folder_)),
      server_("/usr/bin/env", command_, folder_ + "/report", "/dev/null", "/dev/null") {
  const std::string report = folder_ + "/report";
  WaitFor(
      [&] {
        return !server_.started() || !server_.Running() ||
               ReadFile(report).find('\n') != std::string::npos;
      },
      std::chrono::seconds(30));
  const std::string printed = ReadFile(report);
  if (printed.find('\n') == std::string::npos) {
    error_ = command_[0] + " did not start or reported nothing (is it installed?)";
    Stop();
    return;
  }
  line_ = printed.substr(0, printed.find('\n'));
}

ReportingServer::~ReportingServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

bool ReportingServer::Stop() {
  if (!server_.started() || !server_.Running()) return true;
  kill(static_cast<pid_t>(server_.pid()), SIGTERM);
  if (server_.Wait(5000) >= 0) return true;
  server_.Kill();
  return server_.Wait(5000) >= 0;
}

}  // namespace wardex::test
