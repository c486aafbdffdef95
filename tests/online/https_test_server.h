// An HTTPS server on 127.0.0.1 for the HTTP client's tests: a small HTTP/1.1
// server with handlers in the manner of cpp-httplib's and a certificate of
// the test PKI. On Linux it speaks TLS itself (OpenSSL); on Windows
// tls_relay.py, a Unix program it starts, puts TLS in front, and the test
// root goes into the system's store. Handlers that wait do so until the
// server stops, so that stopping never hangs. Also a TCP listener that
// accepts and never answers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/http_session.h"

namespace httplib {

struct Request {
  std::string method, target, path, body;
  std::multimap<std::string, std::string> headers;  // names in lower case
  std::smatch matches;
  int remote_port = 0;
  std::string get_header_value(const std::string& name) const;
};

struct Response {
  // How the body goes: with a Content-Length, in chunks or until the
  // connection closes.
  enum class Framing { kLength, kChunked, kUntilClose };
  int status = 200;
  std::string body{}, location{};
  Framing framing = Framing::kLength;
  size_t length = std::string::npos;  // the Content-Length announced, if not the body's
  bool repeat = false;                // the body again and again, until the client goes
  bool hold = false;                  // after the body, the connection held until the server stops
};

}  // namespace httplib

namespace wardex::test {

// The test PKI made at build time.
std::string PkiFile(const std::string& name);

// An HTTP client (|Client| derives from CVeHTTPComunicator) that trusts the
// test CA, with the product's time-outs unless the test changes them.
template <typename Client>
class TrustingTestCa : public Client {
 public:
  TrustingTestCa() { settings.test_ca_file = PkiFile("root-ca.pem"); }
  platform::HttpSessionSettings settings;

 protected:
  platform::HttpSessionSettings SessionSettings() const override { return settings; }
};

class HttpsTestServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  // Serves with the certificate |cert| (and its key) of the test PKI, on
  // |port| (0: any free port).
  explicit HttpsTestServer(const std::string& cert = "https-server", int port = 0);
  ~HttpsTestServer();

  // Routes requests of any method on paths that match |pattern| to
  // |handler|; the first route that matches answers, else 404.
  void Handle(const std::string& pattern, Handler handler) {
    routes_.push_back({std::regex(pattern), std::move(handler)});
  }
  int port() const { return port_; }
  // The address of |path| on this server.
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Answers requests on |path| with |response|.
  void Serve(const std::string& path, const httplib::Response& response);
  // Blocks a handler until the server stops.
  void WaitForStop();
  // Distinct client ports seen (one per connection), requests served and
  // the last one.
  size_t connections() const;
  int requests() const { return requests_.load(); }
  httplib::Request last_request() const;
  // Starts serving; call after the handlers are set.
  void Start();

 private:
  struct Route {
    std::regex pattern;
    Handler handler;
  };
  using Send = std::function<bool(std::string_view data)>;
  void ServeConnection(intptr_t connection, int remote_port);
  bool Answer(const Send& send, httplib::Request& request);

  intptr_t listener_ = -1;       // the system's sockets
  void* tls_context_ = nullptr;  // Linux: the server's TLS (an SSL_CTX)
  int port_ = 0;
  std::vector<Route> routes_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable stopping_cv_;
  bool stopping_ = false;
  std::set<intptr_t> open_;  // connections being served
  std::vector<std::thread> serving_;
  std::set<int> client_ports_;
  std::atomic<int> requests_{0};
  httplib::Request last_request_;
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
