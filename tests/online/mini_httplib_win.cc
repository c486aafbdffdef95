#include "mini_httplib_win.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <utility>

namespace httplib {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SendAll(SOCKET connection, std::string_view data) {
  while (!data.empty()) {
    const int sent =
        send(connection, data.data(), static_cast<int>(std::min<size_t>(data.size(), 1 << 20)), 0);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
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
    const int got = select(0, &readable, nullptr, nullptr, &timeout) == 1
                        ? recv(connection, piece, sizeof(piece), 0)
                        : 0;
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

int Server::bind_to_any_port(const std::string& host) {
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  int length = sizeof(address);
  const bool bound = bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     listen(listener_, SOMAXCONN) == 0 &&
                     getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  return bound ? ntohs(address.sin_port) : -1;
}

bool Server::listen_after_bind() {
  running_ = true;
  for (;;) {
    sockaddr_in peer{};
    int length = sizeof(peer);
    const SOCKET connection = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
    if (connection == INVALID_SOCKET) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.insert(connection);
    threads_.emplace_back(&Server::Serve, this, connection, ntohs(peer.sin_port));
  }
}

void Server::stop() {
  closesocket(std::exchange(listener_, INVALID_SOCKET));
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
    size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos &&
           ReadUntil(connection, buffer, buffer.size() + 1, keep_alive_ms_)) {
    }
    if (head_end == std::string::npos) break;
    Request request;
    request.remote_port = remote_port;
    size_t line_end = buffer.find("\r\n");
    const size_t space = buffer.find(' ');
    request.method = buffer.substr(0, space);
    request.target = buffer.substr(space + 1, buffer.rfind(' ', line_end) - space - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    while (line_end < head_end) {
      const size_t next = buffer.find("\r\n", line_end + 2);
      const std::string header = buffer.substr(line_end + 2, next - line_end - 2);
      const size_t colon = header.find(':');
      const size_t value = std::min(header.find_first_not_of(' ', colon + 1), header.size());
      request.headers.emplace(Lower(header.substr(0, colon)), header.substr(value));
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
  for (auto route = routes_.begin(); !routed && route != routes_.end(); ++route) {
    routed = route->method == request.method &&
             std::regex_match(request.path, request.matches, route->pattern);
    if (routed) route->handler(request, response);
  }
  if (!routed) response.status = 404;
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Answer\r\n";
  if (!response.content_type.empty()) head += "Content-Type: " + response.content_type + "\r\n";
  if (!response.location.empty()) head += "Location: " + response.location + "\r\n";
  using Kind = Response::Kind;
  switch (response.kind) {
    case Kind::kFixed:
      return SendAll(connection, head + "Content-Length: " + std::to_string(response.body.size()) +
                                     "\r\n\r\n" + response.body);
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
  const bool chunked = response.kind == Kind::kChunked;
  bool sent = SendAll(connection, head);
  bool done = false;
  size_t offset = 0;
  DataSink sink;
  sink.done = [&] { done = true; };
  sink.write = [&](const char* data, size_t length) {
    char size[32];
    snprintf(size, sizeof(size), "%zx\r\n", length);
    sent = sent && (!chunked || SendAll(connection, size)) &&
           SendAll(connection, std::string_view(data, length)) &&
           (!chunked || SendAll(connection, "\r\n"));
    offset += length;
    return sent;
  };
  while (sent && !done && !(response.kind == Kind::kProvided && offset >= response.length)) {
    if (!response.provider(offset, sink)) return false;  // the provider broke the answer off
  }
  if (chunked) return sent && SendAll(connection, "0\r\n\r\n");
  return sent && response.kind == Kind::kProvided;
}

}  // namespace httplib
