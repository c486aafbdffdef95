#include "https_test_server.h"

#if defined(_WIN32)
// The system headers without the macros that clash with our names.
#include "platform/windows_api.h"
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "support/test_env.h"
#include "support/wait.h"
#if defined(_WIN32)
#include "support/wine_desktop_win.h"
#endif

namespace wardex::test {
namespace {

// The sockets and the TLS layer of the two systems: on Linux the server
// speaks TLS itself; on Windows the relay does, in front of plain HTTP.
#if defined(_WIN32)
using Socket = SOCKET;
constexpr int kShutBoth = SD_BOTH;
void CloseSocket(Socket socket) { closesocket(socket); }
int Poll(pollfd* watch, int timeout_ms) { return WSAPoll(watch, 1, timeout_ms); }
struct Stream {
  Socket socket;
  bool Begin(void*) { return true; }
  bool Buffered() const { return false; }
  int Read(char* data, size_t size) { return recv(socket, data, static_cast<int>(size), 0); }
  int Write(const char* data, size_t size) { return send(socket, data, static_cast<int>(size), 0); }
  void End() {}
};
#else
using Socket = int;
constexpr Socket INVALID_SOCKET = -1;
constexpr int kShutBoth = SHUT_RDWR;
void CloseSocket(Socket socket) { close(socket); }
int Poll(pollfd* watch, int timeout_ms) { return poll(watch, 1, timeout_ms); }
struct Stream {
  Socket socket;
  SSL* tls = nullptr;
  // The handshake in |tls_context| (an SSL_CTX).
  bool Begin(void* tls_context) {
    tls = SSL_new(static_cast<SSL_CTX*>(tls_context));
    return tls != nullptr && SSL_set_fd(tls, socket) == 1 && SSL_accept(tls) == 1;
  }
  bool Buffered() const { return SSL_pending(tls) > 0; }
  int Read(char* data, size_t size) { return SSL_read(tls, data, static_cast<int>(size)); }
  int Write(const char* data, size_t size) { return SSL_write(tls, data, static_cast<int>(size)); }
  void End() { SSL_free(tls); }
};
#endif
Socket Native(intptr_t socket) { return static_cast<Socket>(socket); }

// A TCP socket listening on 127.0.0.1:|port| (0: any free port), and the
// port it got; -1 on failure.
intptr_t Listen(int port, int* bound) {
#if defined(_WIN32)
  static const bool started = [] {
    WSADATA winsock;
    return WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
  }();
  (void)started;
#endif
  const Socket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t length = sizeof(address);
  if (listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, SOMAXCONN) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener != INVALID_SOCKET) CloseSocket(listener);
    return -1;
  }
  *bound = ntohs(address.sin_port);
  return static_cast<intptr_t>(listener);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SendAll(Stream& connection, std::string_view data) {
  while (!data.empty()) {
    const int sent = connection.Write(data.data(), std::min<size_t>(data.size(), 1 << 20));
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

// Reads until |buffer| holds |wanted| bytes; false on a closed, silent or
// broken connection.
bool ReadUntil(Stream& connection, std::string& buffer, size_t wanted, int timeout_ms) {
  char piece[16384];
  while (buffer.size() < wanted) {
    pollfd watch{connection.socket, POLLIN, 0};
    const int got = connection.Buffered() || Poll(&watch, timeout_ms) == 1
                        ? connection.Read(piece, sizeof(piece))
                        : 0;
    if (got <= 0) return false;
    buffer.append(piece, static_cast<size_t>(got));
  }
  return true;
}

#if defined(_WIN32)
// Starts the relay, which ends once the server behind it has stopped; its
// port, or 0.
int StartRelay(const std::string& cert, int backend_port, int port) {
  // A Unix path: the relay is a Unix program.
  const std::string port_file = "/tmp/wardex-relay-" + std::to_string(backend_port);
  std::filesystem::remove(port_file);  // left by a run that ended early
  std::string command = "/usr/bin/python3 " WARDEX_TLS_RELAY " " + PkiFile(cert + ".pem") + " " +
                        PkiFile(cert + ".key") + " " + std::to_string(backend_port) + " " +
                        std::to_string(port) + " " + port_file;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  // Wine runs a Unix program and gives it no process handle.
  if (!CreateProcessA("/usr/bin/python3", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return 0;
  }
  std::string text;
  if (!WaitFor([&] { return !(text = ReadFile(port_file)).empty(); }, std::chrono::seconds(30)))
    return 0;
  std::filesystem::remove(port_file);
  return std::stoi(text);
}
#endif

constexpr int kKeepAliveMs = 2000;

}  // namespace

}  // namespace wardex::test

namespace httplib {

std::string Request::get_header_value(const std::string& name) const {
  const auto found = headers.find(wardex::test::Lower(name));
  return found == headers.end() ? std::string() : found->second;
}

}  // namespace httplib

namespace wardex::test {

std::string PkiFile(const std::string& name) {
  return std::string(WARDEX_TEST_PKI_DIR) + "/" + name;
}

HttpsTestServer::HttpsTestServer(const std::string& cert, int port) {
#if defined(_WIN32)
  // Where WinINet looks: the machine's Root store.
  [[maybe_unused]] static const bool trusted = TrustRootInWinePrefix(PkiFile("root-ca.pem"));
  int backend_port = 0;
  listener_ = Listen(0, &backend_port);
  if (listener_ != -1) port_ = StartRelay(cert, backend_port, port);
#else
  std::signal(SIGPIPE, SIG_IGN);  // a client gone mid-answer fails the write
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  tls_context_ = context;
  if (SSL_CTX_use_certificate_chain_file(context, PkiFile(cert + ".pem").c_str()) == 1 &&
      SSL_CTX_use_PrivateKey_file(context, PkiFile(cert + ".key").c_str(), SSL_FILETYPE_PEM) == 1) {
    listener_ = Listen(port, &port_);
  }
#endif
}

void HttpsTestServer::Start() {
  thread_ = std::thread([this] {
    for (;;) {
      pollfd watch{Native(listener_), POLLIN, 0};
      const bool waiting = Poll(&watch, 20) == 1;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      if (!waiting) continue;
      sockaddr_in peer{};
      socklen_t length = sizeof(peer);
      const Socket connection =
          accept(Native(listener_), reinterpret_cast<sockaddr*>(&peer), &length);
      if (connection == INVALID_SOCKET) continue;
      // Each write goes out at once: small ones (the handshake's) wait for no
      // delayed acknowledgement.
      const int on = 1;
      setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof(on));
      open_.insert(static_cast<intptr_t>(connection));
      serving_.emplace_back(&HttpsTestServer::ServeConnection, this,
                            static_cast<intptr_t>(connection), ntohs(peer.sin_port));
    }
  });
}

HttpsTestServer::~HttpsTestServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (intptr_t connection : open_) shutdown(Native(connection), kShutBoth);
  }
  stopping_cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  // No connection is accepted now: the ones open end at their shutdown.
  for (std::thread& thread : serving_) thread.join();
  CloseSocket(Native(listener_));
#if !defined(_WIN32)
  SSL_CTX_free(static_cast<SSL_CTX*>(tls_context_));
#endif
}

// Requests on one connection until it closes or stays idle.
void HttpsTestServer::ServeConnection(intptr_t socket, int remote_port) {
  Stream connection{Native(socket)};
  std::string buffer;
  for (bool open = connection.Begin(tls_context_); open;) {
    size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos &&
           ReadUntil(connection, buffer, buffer.size() + 1, kKeepAliveMs)) {
    }
    if (head_end == std::string::npos) break;
    httplib::Request request;
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
    if (!ReadUntil(connection, buffer, body_length, kKeepAliveMs)) break;
    request.body = buffer.substr(0, body_length);
    buffer.erase(0, body_length);
    open = Answer([&](std::string_view data) { return SendAll(connection, data); }, request);
  }
  connection.End();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(socket);
  }
  CloseSocket(connection.socket);
}

// Routes |request| and sends the answer; false when the connection is to close.
bool HttpsTestServer::Answer(const Send& send, httplib::Request& request) {
  {
    // Counted before the handler runs: the client may look once it has the answer.
    std::lock_guard<std::mutex> lock(mutex_);
    client_ports_.insert(request.remote_port);
    ++requests_;
    last_request_ = request;
  }
  httplib::Response response;
  bool routed = false;
  for (auto route = routes_.begin(); !routed && route != routes_.end(); ++route) {
    routed = std::regex_match(request.path, request.matches, route->pattern);
    if (routed) route->handler(request, response);
  }
  if (!routed) response.status = 404;
  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " Answer\r\nContent-Type: text/plain\r\n";
  if (!response.location.empty()) head += "Location: " + response.location + "\r\n";
  using Framing = httplib::Response::Framing;
  const std::string& body = response.body;
  const size_t length = response.length != std::string::npos ? response.length : body.size();
  const bool chunked = response.framing == Framing::kChunked;
  head += chunked ? "Transfer-Encoding: chunked\r\n\r\n"
          : response.framing == Framing::kUntilClose
              ? "Connection: close\r\n\r\n"
              : "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  // Chunks of 64 KiB: a client that kept only one of a longer body would
  // lose text.
  const size_t piece = chunked ? 65536 : body.size();
  bool sent = send(head);
  do {
    for (size_t at = 0; sent && at < body.size(); at += piece) {
      const std::string_view part = std::string_view(body).substr(at, piece);
      char size[32];
      snprintf(size, sizeof(size), "%zx\r\n", part.size());
      sent = (!chunked || send(size)) && send(part) && (!chunked || send("\r\n"));
    }
  } while (sent && response.repeat);
  if (response.hold) WaitForStop();
  if (chunked) return sent && send("0\r\n\r\n");
  return sent && response.framing == Framing::kLength && length == body.size();
}

void HttpsTestServer::Serve(const std::string& path, const httplib::Response& response) {
  Handle(path, [=](const httplib::Request&, httplib::Response& given) { given = response; });
}

void HttpsTestServer::WaitForStop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_cv_.wait(lock, [this] { return stopping_; });
}

size_t HttpsTestServer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return client_ports_.size();
}

httplib::Request HttpsTestServer::last_request() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_request_;
}

SilentListener::SilentListener() { fd_ = Listen(0, &port_); }

SilentListener::~SilentListener() { CloseSocket(Native(fd_)); }

}  // namespace wardex::test
