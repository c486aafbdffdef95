#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ipc/ipc_channel.h"
#include "ipc/ipc_test_fixture.h"

namespace wardex::test {

RawClient::RawClient(const char16_t* channel)
    : handle_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = ipc::ChannelEndpoint(channel);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (connect(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&address), sizeof(address)) !=
      0) {
    close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

RawClient::~RawClient() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

RawClient::RawClient(RawClient&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

bool RawClient::connected() const { return handle_ >= 0; }

bool RawClient::Send(std::string_view bytes) {
  return send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> RawClient::ReceiveUntilClosed() {
  const timeval patience{5, 0};
  setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
  std::string received;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(static_cast<int>(handle_), buffer, sizeof(buffer));
    if (got > 0) {
      received.append(buffer, static_cast<size_t>(got));
      continue;
    }
    // A reset ends it too: the server closed with our frame unread.
    if (got == 0 || errno == ECONNRESET) return received;
    return std::nullopt;
  }
}

}  // namespace wardex::test
