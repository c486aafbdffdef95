#include "mini_httplib_win.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace httplib {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool SendAll(SOCKET connection, const char* data, size_t length) {
  while (length > 0) {
    const int sent = send(connection, data, static_cast<int>(std::min<size_t>(length, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

// Reads until |buffer| holds |wanted| bytes; false on a closed, silent or
// broken connection.
bool ReadUntil(SOCKET connection, std::string& buffer, size_t wanted, int timeout_ms) {
  char piece[16384];
  while (buffer.size() < wanted) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(connection, &readable);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return false;
    const int got = recv(connection, piece, sizeof(piece), 0);
    if (got <= 0) return false;
    buffer.append(piece, static_cast<size_t>(got));
  }
  return true;
}

}  // namespace

bool Request::has_header(const std::string& name) const { return headers.count(Lower(name)) > 0; }

std::string Request::get_header_value(const std::string& name) const {
  const auto found = headers.find(Lower(name));
  return found == headers.end() ? std::string() : found->second;
}

void Response::set_content(const std::string& content, const std::string& type) {
  body = content;
  content_type = type;
  kind = Kind::kFixed;
}

void Response::set_redirect(const std::string& url, int redirect_status) {
  location = url;
  status = redirect_status;
}

void Response::set_content_provider(size_t content_length, const std::string& type,
                                    ContentProvider p) {
  length = content_length;
  content_type = type;
  provider = std::move(p);
  kind = Kind::kProvided;
}

void Response::set_content_provider(const std::string& type, ContentProviderWithoutLength p) {
  content_type = type;
  open_provider = std::move(p);
  kind = Kind::kUntilClose;
}

void Response::set_chunked_content_provider(const std::string& type, ContentProviderWithoutLength p,
                                            std::function<void(bool)>) {
  content_type = type;
  open_provider = std::move(p);
  kind = Kind::kChunked;
}

Server::Server() {
  WSADATA winsock;
  WSAStartup(MAKEWORD(2, 2), &winsock);
}

Server::~Server() {
  stop();
  WSACleanup();
}

Server& Server::Get(const std::string& pattern, Handler handler) {
  routes_.push_back({"GET", std::regex(pattern), std::move(handler)});
  return *this;
}

Server& Server::Post(const std::string& pattern, Handler handler) {
  routes_.push_back({"POST", std::regex(pattern), std::move(handler)});
  return *this;
}

Server& Server::Delete(const std::string& pattern, Handler handler) {
  routes_.push_back({"DELETE", std::regex(pattern), std::move(handler)});
  return *this;
}

void Server::set_pre_routing_handler(
    std::function<HandlerResponse(const Request&, Response&)> handler) {
  pre_routing_ = std::move(handler);
}

int Server::bind_to_any_port(const std::string& host) {
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  int length = sizeof(address);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, SOMAXCONN) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return -1;
  }
  return ntohs(address.sin_port);
}

bool Server::listen_after_bind() {
  running_ = true;
  for (;;) {
    sockaddr_in peer{};
    int length = sizeof(peer);
    const SOCKET connection = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
    if (connection == INVALID_SOCKET) break;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.insert(connection);
    threads_.emplace_back(&Server::Serve, this, connection, ntohs(peer.sin_port));
  }
  return true;
}

void Server::stop() {
  if (listener_ != INVALID_SOCKET) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (SOCKET connection : connections_) shutdown(connection, SD_BOTH);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
  running_ = false;
}

// Requests on one connection until it closes or stays idle.
void Server::Serve(SOCKET connection, int remote_port) {
  std::string buffer;
  for (;;) {
    size_t head_end = std::string::npos;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!ReadUntil(connection, buffer, buffer.size() + 1, keep_alive_ms_)) break;
    }
    if (head_end == std::string::npos) break;
    Request request;
    request.remote_port = remote_port;
    size_t line_end = buffer.find("\r\n");
    const std::string line = buffer.substr(0, line_end);
    const size_t space = line.find(' ');
    request.method = line.substr(0, space);
    request.target = line.substr(space + 1, line.rfind(' ') - space - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    while (line_end < head_end) {
      const size_t next = buffer.find("\r\n", line_end + 2);
      const std::string header = buffer.substr(line_end + 2, next - line_end - 2);
      const size_t colon = header.find(':');
      const size_t value = header.find_first_not_of(' ', colon + 1);
      request.headers.emplace(Lower(header.substr(0, colon)),
                              value == std::string::npos ? "" : header.substr(value));
      line_end = next;
    }
    const size_t body_length = std::stoul("0" + request.get_header_value("Content-Length"));
    buffer.erase(0, head_end + 4);
    if (!ReadUntil(connection, buffer, body_length, keep_alive_ms_)) break;
    request.body = buffer.substr(0, body_length);
    buffer.erase(0, body_length);
    if (!Answer(connection, request)) break;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(connection);
  }
  closesocket(connection);
}

// Routes |request| and sends the answer; false when the connection is to close.
bool Server::Answer(SOCKET connection, Request& request) {
  Response response;
  bool routed = pre_routing_ && pre_routing_(request, response) == HandlerResponse::Handled;
  for (const Route& route : routes_) {
    if (routed) break;
    if (route.method == request.method &&
        std::regex_match(request.path, request.matches, route.pattern)) {
      route.handler(request, response);
      routed = true;
      break;
    }
  }
  if (!routed) response.status = 404;
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Answer\r\n";
  if (!response.content_type.empty()) head += "Content-Type: " + response.content_type + "\r\n";
  if (!response.location.empty()) head += "Location: " + response.location + "\r\n";
  using Kind = Response::Kind;
  switch (response.kind) {
    case Kind::kFixed:
      head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n";
      return SendAll(connection, head.data(), head.size()) &&
             SendAll(connection, response.body.data(), response.body.size());
    case Kind::kProvided:
      head += "Content-Length: " + std::to_string(response.length) + "\r\n\r\n";
      break;
    case Kind::kUntilClose:
      head += "Connection: close\r\n\r\n";
      break;
    case Kind::kChunked:
      head += "Transfer-Encoding: chunked\r\n\r\n";
      break;
  }
  if (!SendAll(connection, head.data(), head.size())) return false;
  size_t offset = 0;
  bool done = false;
  bool sent = true;
  DataSink sink;
  sink.done = [&] { done = true; };
  sink.write = [&](const char* data, size_t length) {
    if (response.kind == Kind::kChunked) {
      char size[32];
      snprintf(size, sizeof(size), "%zx\r\n", length);
      sent = sent && SendAll(connection, size, strlen(size)) && SendAll(connection, data, length) &&
             SendAll(connection, "\r\n", 2);
    } else {
      sent = sent && SendAll(connection, data, length);
    }
    offset += length;
    return sent;
  };
  while (sent && !done && !(response.kind == Kind::kProvided && offset >= response.length)) {
    const bool more = response.kind == Kind::kProvided
                          ? response.provider(offset, response.length - offset, sink)
                          : response.open_provider(offset, sink);
    if (!more) return false;  // the provider broke the answer off
  }
  if (!sent) return false;
  if (response.kind == Kind::kChunked) return SendAll(connection, "0\r\n\r\n", 5);
  return response.kind == Kind::kProvided;
}

}  // namespace httplib
