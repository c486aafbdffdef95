#include "https_test_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace wardex::test {

std::string PkiFile(const std::string& name) {
  return std::string(WARDEX_TEST_PKI_DIR) + "/" + name;
}

HttpsTestServer::HttpsTestServer(const std::string& cert, int port)
    : server_(PkiFile(cert + ".pem").c_str(), PkiFile(cert + ".key").c_str()) {
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
  if (port == 0) {
    port_ = server_.bind_to_any_port("127.0.0.1");
  } else if (server_.bind_to_port("127.0.0.1", port)) {
    port_ = port;
  }
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
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      listen(fd_, 16) == 0 &&
      getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
}

SilentListener::~SilentListener() { close(fd_); }

}  // namespace wardex::test
