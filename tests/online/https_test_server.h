// An HTTPS server on 127.0.0.1 for the HTTP client's tests: a small HTTP/1.1
// server with the part of cpp-httplib's handler interface that the tests use,
// with a certificate of the test PKI. On Linux it speaks TLS itself
// (OpenSSL); on Windows tls_relay.py, a Unix program it starts, puts TLS in
// front, and the test root goes into the system's store. Handlers that wait
// do so until the server stops, so that stopping never hangs. Also a TCP
// listener that accepts and never answers.
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

struct DataSink {
  std::function<bool(const char* data, size_t length)> write;
  std::function<void()> done;
};
using ContentProvider = std::function<bool(size_t offset, size_t length, DataSink& sink)>;
using ContentProviderWithoutLength = std::function<bool(size_t offset, DataSink& sink)>;

struct Request {
  std::string method, target, path, body;
  std::multimap<std::string, std::string> headers;  // names in lower case
  std::smatch matches;
  int remote_port = 0;
  bool has_header(const std::string& name) const;
  std::string get_header_value(const std::string& name) const;
};

struct Response {
  // How the body goes: whole, from a provider with a length, from one
  // without (the connection closes after it) or in chunks.
  enum class Kind { kFixed, kProvided, kUntilClose, kChunked };
  int status = 200;
  std::string body, content_type, location;
  Kind kind = Kind::kFixed;
  size_t length = 0;
  ContentProviderWithoutLength provider;

  void set_content(const std::string& content, const std::string& type) {
    body = content;
    content_type = type;
  }
  void set_redirect(const std::string& url, int redirect_status = 302) {
    location = url;
    status = redirect_status;
  }
  void set_content_provider(size_t content_length, const std::string& type, ContentProvider p) {
    Provide(Kind::kProvided, type, [p, content_length](size_t offset, DataSink& sink) {
      return p(offset, content_length - offset, sink);
    });
    length = content_length;
  }
  void set_content_provider(const std::string& type, ContentProviderWithoutLength p) {
    Provide(Kind::kUntilClose, type, std::move(p));
  }
  void set_chunked_content_provider(const std::string& type, ContentProviderWithoutLength p) {
    Provide(Kind::kChunked, type, std::move(p));
  }
  void Provide(Kind how, const std::string& type, ContentProviderWithoutLength p) {
    kind = how;
    content_type = type;
    provider = std::move(p);
  }
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

  // Routes |method| on paths that match |pattern| to |handler|; the first
  // route that matches answers, else 404.
  HttpsTestServer& Get(const std::string& pattern, Handler h) { return Add("GET", pattern, h); }
  HttpsTestServer& Post(const std::string& pattern, Handler h) { return Add("POST", pattern, h); }
  HttpsTestServer& Delete(const std::string& pattern, Handler h) {
    return Add("DELETE", pattern, h);
  }
  // The routes, as cpp-httplib's server wrapper names them.
  HttpsTestServer& server() { return *this; }
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
  struct Route {
    std::string method;
    std::regex pattern;
    Handler handler;
  };
  HttpsTestServer& Add(const char* method, const std::string& pattern, Handler handler) {
    routes_.push_back({method, std::regex(pattern), std::move(handler)});
    return *this;
  }
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
