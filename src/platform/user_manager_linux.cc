#include "platform/user_manager_linux.h"

#include <systemd/sd-bus.h>

#include "wardex/crashlog.h"

namespace wardex::platform {
namespace {

constexpr uint64_t kCallTimeoutUsec = 5'000'000;
constexpr const char* kManagerService = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";

// Calls |method| of the manager with the unit name and mode when |unit| is
// given. False when the call failed.
bool CallManager(sd_bus* bus, const char* method, const std::string* unit) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int result =
      unit == nullptr ? sd_bus_call_method(bus, kManagerService, kManagerPath, kManagerInterface,
                                           method, &error, &reply, "")
                      : sd_bus_call_method(bus, kManagerService, kManagerPath, kManagerInterface,
                                           method, &error, &reply, "ss", unit->c_str(), "replace");
  if (result < 0) {
    LogW(kLogInfo, u"User service manager: %S failed: %S", method,
         error.message != nullptr ? error.message : "no answer");
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return result >= 0;
}

}  // namespace

void TellUserManager(const std::string& stop_unit, const std::string& start_unit) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return;  // no user bus: the manager learns at its next start
  sd_bus_set_method_call_timeout(bus, kCallTimeoutUsec);
  if (!stop_unit.empty()) static_cast<void>(CallManager(bus, "StopUnit", &stop_unit));
  if (CallManager(bus, "Reload", nullptr) && !start_unit.empty()) {
    static_cast<void>(CallManager(bus, "StartUnit", &start_unit));
  }
  sd_bus_flush_close_unref(bus);
}

}  // namespace wardex::platform
