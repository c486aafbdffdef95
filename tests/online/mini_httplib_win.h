// The part of cpp-httplib's server interface that the HTTP tests use, as a
// small HTTP/1.1 server on Winsock: Debian packages cpp-httplib's compiled
// half for Linux only. Plain HTTP; tls_relay.py puts TLS in front.
#pragma once

// The system headers without the macros that clash with our names.
#include "platform/windows_api.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

class Server {
 public:
  enum class HandlerResponse { Handled, Unhandled };
  using Handler = std::function<void(const Request&, Response&)>;

  Server() {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
  }
  ~Server() {
    stop();
    WSACleanup();
  }
  Server& Get(const std::string& pattern, Handler h) { return Add("GET", pattern, h); }
  Server& Post(const std::string& pattern, Handler h) { return Add("POST", pattern, h); }
  Server& Delete(const std::string& pattern, Handler h) { return Add("DELETE", pattern, h); }
  void set_pre_routing_handler(std::function<HandlerResponse(const Request&, Response&)> h) {
    pre_routing_ = std::move(h);
  }
  void set_keep_alive_timeout(int seconds) { keep_alive_ms_ = seconds * 1000; }
  void set_keep_alive_max_count(int) {}
  void set_tcp_nodelay(bool) {}
  int bind_to_any_port(const std::string& host);
  bool listen_after_bind();
  bool is_running() const { return running_; }
  void stop();

 private:
  struct Route {
    std::string method;
    std::regex pattern;
    Handler handler;
  };
  Server& Add(const char* method, const std::string& pattern, Handler handler) {
    routes_.push_back({method, std::regex(pattern), std::move(handler)});
    return *this;
  }
  void Serve(SOCKET connection, int remote_port);
  bool Answer(SOCKET connection, Request& request);

  SOCKET listener_ = INVALID_SOCKET;
  int keep_alive_ms_ = 5000;
  std::atomic<bool> running_{false};
  std::vector<Route> routes_;
  std::function<HandlerResponse(const Request&, Response&)> pre_routing_;
  std::mutex mutex_;
  std::set<SOCKET> connections_;
  std::vector<std::thread> threads_;
};

}  // namespace httplib
