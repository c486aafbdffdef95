#include "support/session_bus.h"

#include <vector>

#include "support/test_env.h"

namespace wardex::test {
namespace {

// The daemon's command line, with a configuration in |folder| that lets every
// peer own any name and talk to any other, and listens only on folder/bus.
std::vector<std::string> DaemonArguments(const std::string& folder) {
  const std::string config = folder + "/bus.conf";
  WriteFile(config,
            R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
                folder + R"(/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
  return {"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"};
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() : ReportingServer(DaemonArguments) {}

}  // namespace wardex::test
