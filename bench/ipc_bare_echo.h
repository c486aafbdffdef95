// A bare echo over the platform's transport, beside which the IPC library's
// round trip is measured: one connection per exchange, as the library
// makes, the request out and a reply of the library's size back.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class BareEcho {
 public:
  // Starts the echo server, answering every request with |reply|. Where the
  // library needs a private folder for its channels, it gets one for the
  // life of the echo.
  static std::unique_ptr<BareEcho> Start(std::string reply);
  virtual ~BareEcho() = default;

  // What the bare transport is, for the report.
  virtual const char* name() const = 0;
  // One exchange; false when it failed.
  virtual bool Exchange(std::string_view request) = 0;
};
