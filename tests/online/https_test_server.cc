#include "https_test_server.h"

#if !defined(_WIN32)
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "support/test_env.h"
#if defined(_WIN32)
#include "support/wine_desktop_win.h"
#endif

namespace wardex::test {
namespace {

#if defined(_WIN32)
// Starts the relay, which ends with this program; its port, or 0.
int StartRelay(const std::string& cert, int backend_port, int port) {
  // A Unix path: the relay is a Unix program.
  const std::string port_file = "/tmp/wardex-relay-" + std::to_string(backend_port);
  std::filesystem::remove(port_file);  // left by a run that ended early
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string command = "/usr/bin/python3 " WARDEX_TLS_RELAY " " + PkiFile(cert + ".pem") + " " +
                        PkiFile(cert + ".key") + " " + std::to_string(backend_port) + " " +
                        std::to_string(port) + " " + port_file;
  PROCESS_INFORMATION process{};
  // Wine runs a Unix program and gives it no process handle.
  if (!CreateProcessA("/usr/bin/python3", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return 0;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string text = ReadFile(port_file);
    if (!text.empty()) {
      std::filesystem::remove(port_file);
      return std::stoi(text);
    }
    Sleep(10);
  }
  return 0;
}
#endif

}  // namespace

std::string PkiFile(const std::string& name) {
  return std::string(WARDEX_TEST_PKI_DIR) + "/" + name;
}

#if defined(_WIN32)
HttpsTestServer::HttpsTestServer(const std::string& cert, int port) {
  // Where WinINet looks: the machine's Root store.
  [[maybe_unused]] static const bool trusted = TrustRootInWinePrefix(PkiFile("root-ca.pem"));
  backend_port_ = server_.bind_to_any_port("127.0.0.1");
  port_ = StartRelay(cert, backend_port_, port);
#else
HttpsTestServer::HttpsTestServer(const std::string& cert, int port)
    : server_(PkiFile(cert + ".pem").c_str(), PkiFile(cert + ".key").c_str()) {
  if (port == 0) {
    port_ = server_.bind_to_any_port("127.0.0.1");
  } else if (server_.bind_to_port("127.0.0.1", port)) {
    port_ = port;
  }
#endif
  server_.set_keep_alive_timeout(2);
  server_.set_keep_alive_max_count(1000);
  server_.set_tcp_nodelay(true);
  // Counted before the handler runs: the logger runs after the answer is
  // sent, when the client may already have looked.
  server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard<std::mutex> lock(mutex_);
    client_ports_.insert(request.remote_port);
    ++requests_;
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

void HttpsTestServer::Start() {
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpsTestServer::~HttpsTestServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopping_cv_.notify_all();
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

void HttpsTestServer::Serve(const std::string& path, const std::string& body, int status,
                            const std::string& type) {
  const auto answer = [=](const httplib::Request&, httplib::Response& response) {
    response.status = status;
    response.set_content(body, type);
  };
  server_.Get(path, answer).Post(path, answer);
}

void HttpsTestServer::Redirect(const std::string& path, const std::string& target, int status) {
  server_.Get(path, [=](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(target, status);
  });
}

void HttpsTestServer::Stall(const std::string& path) {
  server_.Get(path, [this](const httplib::Request&, httplib::Response&) { WaitForStop(); });
}

void HttpsTestServer::WaitForStop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_cv_.wait(lock, [this] { return stopping_; });
}

size_t HttpsTestServer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return client_ports_.size();
}

SilentListener::SilentListener() {
#if defined(_WIN32)
  WSADATA winsock;
  WSAStartup(MAKEWORD(2, 2), &winsock);
  fd_ = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
#else
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  const auto fd = static_cast<decltype(socket(0, 0, 0))>(fd_);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      listen(fd, 16) == 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
}

#if defined(_WIN32)
SilentListener::~SilentListener() {
  closesocket(static_cast<SOCKET>(fd_));
  WSACleanup();
}
#else
SilentListener::~SilentListener() { close(static_cast<int>(fd_)); }
#endif

}  // namespace wardex::test
