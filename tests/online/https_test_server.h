// An HTTPS server on 127.0.0.1 for the HTTP client's tests (cpp-httplib with
// OpenSSL), with a certificate of the test PKI, and a TCP listener that
// accepts and never answers. Handlers that wait do so until the server
// stops, so that stopping never hangs. On Windows cpp-httplib has no TLS
// here: it serves plain HTTP behind tls_relay.py, a Unix program the server
// starts, and the test root goes into the system's store.
#pragma once

#if defined(_WIN32)
#include "mini_httplib_win.h"
#else
#include <httplib.h>
#endif

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/http_session.h"

namespace wardex::test {

// The test PKI made at build time.
std::string PkiFile(const std::string& name);

#if defined(_WIN32)
using TestServerBase = httplib::Server;
#else
using TestServerBase = httplib::SSLServer;
#endif

// An HTTP client (|Client| derives from CVeHTTPComunicator) that trusts the
// test CA, with the product's time-outs.
template <typename Client>
class TrustingTestCa : public Client {
 protected:
  platform::HttpSessionSettings SessionSettings() const override {
    platform::HttpSessionSettings settings;
    settings.test_ca_file = PkiFile("root-ca.pem");
    return settings;
  }
};

class HttpsTestServer {
 public:
  // Serves with the certificate |cert| (and its key) of the test PKI, on
  // |port| (0: any free port).
  explicit HttpsTestServer(const std::string& cert = "https-server", int port = 0);
  ~HttpsTestServer();

  TestServerBase& server() { return server_; }
  int port() const { return port_; }
  // The address of |path| on this server.
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Answers GET and POST on |path| with |body|, |status| and |type|.
  void Serve(const std::string& path, const std::string& body, int status = 200,
             const std::string& type = "text/plain");
  // Redirects GET on |path| to |target|.
  void Redirect(const std::string& path, const std::string& target, int status = 302);
  // Blocks a handler until the server stops.
  void WaitForStop();
  // Holds GET on |path| until the server stops, then answers nothing.
  void Stall(const std::string& path);
  // Distinct client ports seen (one per connection) and requests served.
  size_t connections() const;
  int requests() const { return requests_.load(); }
  // Starts serving; call after the handlers are set.
  void Start();

 private:
  TestServerBase server_;
  int port_ = 0;
#if defined(_WIN32)
  int backend_port_ = 0;  // the plain server behind the relay
#endif
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable stopping_cv_;
  bool stopping_ = false;
  std::set<int> client_ports_;
  std::atomic<int> requests_{0};
};

// Accepts TCP connections on 127.0.0.1 and never sends or reads a byte.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  int port() const { return port_; }

 private:
  intptr_t fd_ = -1;
  int port_ = 0;
};

}  // namespace wardex::test
