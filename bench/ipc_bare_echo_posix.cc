#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "ipc_bare_echo.h"

namespace {

class SocketEcho final : public BareEcho {
 public:
  explicit SocketEcho(std::string reply) : reply_(std::move(reply)) {
    char folder_template[] = "/tmp/wardex-ipc-bench-XXXXXX";
    folder_ = mkdtemp(folder_template);
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    path_ = folder_ + "/bare.sock";
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address();
    bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    listen(listen_fd_, 128);
    server_ = std::thread([this] { Serve(); });
  }

  ~SocketEcho() override {
    stop_ = true;
    shutdown(listen_fd_, SHUT_RDWR);
    Exchange("");
    server_.join();
    close(listen_fd_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const char* name() const override { return "bare Unix-socket echo"; }

  bool Exchange(std::string_view request) override {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address();
    bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
              write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    std::string buffer(reply_.size(), '\0');
    size_t got = 0;
    while (ok && got < buffer.size()) {
      const ssize_t n = read(fd, buffer.data() + got, buffer.size() - got);
      ok = n > 0;
      got += ok ? static_cast<size_t>(n) : 0;
    }
    close(fd);
    return ok;
  }

 private:
  sockaddr_un Address() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path_.c_str());
    return address;
  }

  // Reads each request in turn and answers with as many bytes as the
  // library's reply.
  void Serve() {
    while (!stop_) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      char buffer[256];
      if (read(fd, buffer, sizeof(buffer)) > 0) (void)!write(fd, reply_.data(), reply_.size());
      close(fd);
    }
  }

  const std::string reply_;
  std::string folder_;
  std::string path_;
  int listen_fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

}  // namespace

std::unique_ptr<BareEcho> BareEcho::Start(std::string reply) {
  return std::make_unique<SocketEcho>(std::move(reply));
}
