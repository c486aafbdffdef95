// The HTTP client's session settings: the product's time-outs and answer
// bound, and the settings that tests alone may give in install.cfg.
#pragma once

#include "platform/http_session.h"

namespace wardex {

// Read anew at every call. Section "web" of install.cfg may hold, for tests
// only (each empty or absent by default, and then without effect):
//   test_ca_file=PATH         a CA file that replaces the system's store
//   test_loopback_name=NAME   NAME resolves to 127.0.0.1
//   test_connect_timeout_ms=N replaces the connect time-out of 5,000 ms
//   test_stall_timeout_ms=N   replaces the send and receive time-outs of 120,000 ms
// Nothing else about TLS can be changed: peer and host are always verified.
platform::HttpSessionSettings ReadHttpSessionSettings();

}  // namespace wardex
