// Whether this computer is connected to the Internet, as the HTTP client's
// connection checks ask it.
#pragma once

namespace wardex::platform {

enum class InternetState {
  kConnected,
  kNotConnected,
  kUnavailable,  // no source could answer
};

// NetworkManager's connectivity where NetworkManager runs on the system bus:
// full is connected; none, a captive portal and limited are not. Where it
// does not run, or does not know (its check switched off), a default route
// (IPv4 or IPv6) that is up and not a reject route means connected.
// On Windows the Network List Manager's IsConnectedToInternet decides.
// Anything but connected sets the last error to 12163 (disconnected).
InternetState GetInternetState();

}  // namespace wardex::platform
