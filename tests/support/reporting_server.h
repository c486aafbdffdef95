// A server program that a test starts for itself and that reports one line
// on its standard output once it accepts clients (dbus-daemon its address,
// Xvfb its display number). It is stopped (SIGTERM, then SIGKILL after 5 s)
// and reaped when the object goes, and the variable exported for it is
// restored.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace wardex::test {

class ReportingServer {
 public:
  // Starts the command line that |argv| gives for the server's own folder
  // (its program found in PATH, its input and error output /dev/null) and
  // waits up to 30 s for the line.
  explicit ReportingServer(
      const std::function<std::vector<std::string>(const std::string& folder)>& argv);
  ~ReportingServer();
  ReportingServer(const ReportingServer&) = delete;
  ReportingServer& operator=(const ReportingServer&) = delete;

  [[nodiscard]] bool ok() const { return !line_.empty(); }
  // The reported line, without its end.
  [[nodiscard]] const std::string& line() const { return line_; }
  // Why the server did not start, for a test's skip or failure message.
  [[nodiscard]] const std::string& error() const { return error_; }
  // Sets |variable| for this process and the children it starts from now
  // on, until the object goes.
  void Export(const char* variable, const std::string& value) { exported_.Set(variable, value); }
  // Ends the server now and reaps it; true when it ended.
  bool Stop();

 private:
  std::string folder_;  // holds the file the server reports into, and what it writes
  std::vector<std::string> command_;
  ChildProgram server_;
  std::string line_;
  std::string error_;
  ScopedEnvironment exported_;
};

}  // namespace wardex::test
