// One HTTPS session: the connection cache and settings of one HTTP client
// instance, so that its later requests reuse the connection of the first.
// HTTPS only; the peer's certificate and host name are always verified
// against the system's CA store; redirects are never followed here; proxies
// come from the user's https_proxy, all_proxy and no_proxy on Linux, from the
// system's settings on Windows. Failures are reported as WinINet error
// numbers (internet_errors.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wardex::platform {

struct HttpSessionSettings {
  uint32_t connect_timeout_ms = 5000;
  // A peer that sends or takes no byte for this long ends the request.
  uint32_t stall_timeout_ms = 120000;
  // An answer larger than this is refused (error 8, not enough memory).
  uint64_t max_answer_bytes = 64ull << 20;
  // For tests only, both empty by default: a CA file that replaces the
  // system's store, and a host name that resolves to 127.0.0.1. Linux only:
  // Windows tests put their root into the system's store.
  std::string test_ca_file;
  std::string test_loopback_name;
};

struct HttpRequest {
  std::string verb;  // "GET", "POST" or "DELETE"
  std::string host;  // a name, an IPv4 address or a bracketed IPv6 address
  uint16_t port = 443;
  std::string object;  // the path and query, "" for "/"
  std::string referrer;
  std::vector<std::string> headers;  // "Name: value"
  const char* body = nullptr;        // POST only; sent in pieces of at most 64,000 bytes
  uint64_t body_length = 0;
  // Polled about once a second while the request runs; true ends it (12017).
  std::function<bool()> stop_requested;
};

struct HttpResponse {
  uint32_t error = 0;     // WinINet error number; 0 when the exchange completed
  bool answered = false;  // the status line arrived (a later error happened reading)
  uint32_t status = 0;
  std::string location;  // the Location header as sent, or empty
  std::string body;      // what arrived, also when the exchange failed half-way
};

class HttpSession {
 public:
  // Null, with the last error set, when no session can be made.
  static std::unique_ptr<HttpSession> Create();
  virtual ~HttpSession() = default;
  // One exchange; blocks the calling thread until it ends.
  virtual HttpResponse Perform(const HttpRequest& request, const HttpSessionSettings& settings) = 0;
};

}  // namespace wardex::platform
