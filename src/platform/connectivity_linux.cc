#include <systemd/sd-bus.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "osal/last_error.h"
#include "platform/connectivity.h"
#include "platform/internet_errors.h"

namespace wardex::platform {
namespace {

constexpr uint64_t kBusTimeoutUsec = 1000000;
constexpr uint32_t kRouteUp = 0x0001;      // RTF_UP
constexpr uint32_t kRouteReject = 0x0200;  // RTF_REJECT

enum NmConnectivity : uint32_t { kNmUnknown = 0, kNmFull = 4 };

// NetworkManager's Connectivity property; false when it cannot be asked.
bool AskNetworkManager(uint32_t* connectivity) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return false;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  bool ok =
      sd_bus_message_new_method_call(bus, &call, "org.freedesktop.NetworkManager",
                                     "/org/freedesktop/NetworkManager",
                                     "org.freedesktop.DBus.Properties", "Get") >= 0 &&
      sd_bus_message_append(call, "ss", "org.freedesktop.NetworkManager", "Connectivity") >= 0 &&
      // Asking must not start NetworkManager where it is not running.
      sd_bus_message_set_auto_start(call, 0) >= 0 &&
      sd_bus_call(bus, call, kBusTimeoutUsec, &error, &reply) >= 0 &&
      sd_bus_message_read(reply, "v", "u", connectivity) >= 0;
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return ok;
}

// Whether a routing table file lists a default route that is up; false too
// when it cannot be read (|readable| tells).
bool HasDefaultRoute(const char* path, bool ipv6, bool* readable) {
  std::ifstream in(path);
  if (!in) return false;
  *readable = true;
  std::string line;
  if (!ipv6) std::getline(in, line);  // the column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string a, b, c, d, e, f, g, h, i, j;
    uint32_t flags = 0;
    if (ipv6) {
      // destination, prefix length, source, source prefix, next hop, metric,
      // references, use, flags, device
      if (!(fields >> a >> b >> c >> d >> e >> f >> g >> h >> std::hex >> flags)) continue;
      if (a != std::string(32, '0') || b != "00") continue;
    } else {
      // device, destination, gateway, flags, references, use, metric, mask
      if (!(fields >> a >> b >> c >> std::hex >> flags >> d >> e >> f >> g)) continue;
      if (b != "00000000" || g != "00000000") continue;
    }
    if ((flags & kRouteUp) != 0 && (flags & kRouteReject) == 0) return true;
  }
  return false;
}

InternetState AskInternetState() {
  uint32_t connectivity = kNmUnknown;
  if (AskNetworkManager(&connectivity) && connectivity != kNmUnknown) {
    return connectivity == kNmFull ? InternetState::kConnected : InternetState::kNotConnected;
  }
  bool readable = false;
  if (HasDefaultRoute("/proc/net/route", false, &readable) ||
      HasDefaultRoute("/proc/net/ipv6_route", true, &readable)) {
    return InternetState::kConnected;
  }
  return readable ? InternetState::kNotConnected : InternetState::kUnavailable;
}

}  // namespace

InternetState GetInternetState() {
  const InternetState state = AskInternetState();
  if (state != InternetState::kConnected) KaOSAL::SetLastError(kInternetDisconnected);
  return state;
}

}  // namespace wardex::platform
