// The receiving side on Unix domain sockets: a socket per channel in the
// user's private runtime folder, held with a lock file, and one thread that
// polls the listening socket and every connection whose request is still
// being read.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "ipc_channel.h"
#include "ipc_receiver.h"
#include "ipc_server.h"
#include "ipc_socket_posix.h"
#include "ipc_workers.h"
#include "osal/wide_format.h"
#include "wardex/crashlog.h"

namespace wardex::ipc {
namespace {

constexpr int kListenBacklog = 128;
// The pause after accept failed for want of descriptors or memory.
constexpr int kAcceptRetryMs = 100;

std::u16string Wide(const std::string& text) { return KaOSAL::FromUtf8(text); }

// Takes the channel's lock file into |fd|; fails while another live server
// holds it, and logs why it failed. The suffix starts with a "%" that no two
// hexadecimal digits follow, which no escaped channel name holds, so no
// channel's socket is another's lock (with ".lock", a server on "x.lock"
// would replace the lock of "x").
int32_t LockChannel(const std::string& socket_path, const char16_t* channel,
                    platform::ScopedFd& fd) {
  const std::string lock_path = socket_path + "%lock";
  fd.reset(open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) {
    const int error = errno;
    if (error == ELOOP) {
      LogW(kLogError, u"IPC: the lock file %s is a link, which is never followed",
           Wide(lock_path).c_str());
    } else {
      LogW(kLogError, u"IPC: cannot open the lock file %s (errno %d)", Wide(lock_path).c_str(),
           error);
    }
    return kIpcIoError;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    fd.reset();
    LogW(kLogError, u"IPC: channel \"%s\" is in use by another server", channel);
    return kIpcChannelInUse;
  }
  return kIpcOk;
}

platform::ScopedFd BindSocket(const std::string& path) {
  platform::ScopedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return fd;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // A socket left by a crashed server is stale: we hold the channel's lock.
  unlink(path.c_str());
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd.get(), kListenBacklog) != 0) {
    return platform::ScopedFd();
  }
  return fd;
}

class SocketReceiver final : public Receiver {
 public:
  SocketReceiver(IpcMessageCallback callback, uintptr_t context)
      : workers_(callback, context, [this] { Wake(); }) {}

  ~SocketReceiver() override {
    if (thread_.joinable()) {
      stopping_ = true;
      Wake();
      thread_.join();
    }
    workers_.Stop();
    if (!socket_path_.empty()) unlink(socket_path_.c_str());
  }

  int32_t Listen(const char16_t* channel) {
    ChannelPathError path_error = ChannelPathError::kNone;
    socket_path_ = ChannelEndpoint(channel, &path_error);
    if (socket_path_.empty()) {
      LogW(kLogError, u"IPC: channel \"%s\": %S", channel, ChannelPathErrorText(path_error));
      return kIpcInvalidArgument;
    }
    if (const int32_t locked = LockChannel(socket_path_, channel, lock_fd_); locked != kIpcOk) {
      socket_path_.clear();
      return locked;
    }
    listen_fd_ = BindSocket(socket_path_);
    int wake[2];
    if (listen_fd_.get() < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      LogW(kLogError, u"IPC: cannot listen at %s (errno %d)", Wide(socket_path_).c_str(), errno);
      return kIpcIoError;
    }
    wake_read_.reset(wake[0]);
    wake_write_.reset(wake[1]);
    try {
      thread_ = std::thread(&SocketReceiver::ReceiveLoop, this);
    } catch (const std::system_error& error) {
      LogW(kLogSysFail, u"IPC: cannot start the server's thread (%S)", error.what());
      return kIpcIoError;
    }
    return kIpcOk;
  }

 private:
  // A connection whose request is being read.
  struct Incoming {
    platform::ScopedFd fd;
    Clock::time_point deadline;
    RequestReader reader;
  };

  void Wake() { (void)!write(wake_write_.get(), "x", 1); }
  void ReceiveLoop();
  void Accept();
  // Reads what |connection| has. Once it is done with (dropped, or handed
  // to a worker) it holds no descriptor.
  void Receive(Incoming& connection);

  Workers workers_;
  std::string socket_path_;
  platform::ScopedFd lock_fd_;
  platform::ScopedFd listen_fd_;
  platform::ScopedFd wake_read_;  // a pipe that wakes the receiving thread
  platform::ScopedFd wake_write_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::vector<Incoming> incoming_;  // receiving thread only
  Clock::time_point accept_paused_until_;
  bool accept_failing_ = false;  // logged once per run of failures
};

void SocketReceiver::ReceiveLoop() {
  std::vector<pollfd> entries;
  while (!stopping_) {
    const auto now = Clock::now();
    // Requests not complete in time are dropped. Dropped before the slots
    // are counted: with every slot expiring at once, a count taken earlier
    // would leave the listening socket out of a poll that nothing ends.
    for (Incoming& connection : incoming_) {
      if (connection.deadline <= now) {
        connection.reader.LogIncomplete();
        connection.fd.reset();
      }
    }
    std::erase_if(incoming_, [](const Incoming& connection) { return connection.fd.get() < 0; });
    const bool may_accept =
        static_cast<int>(incoming_.size()) + workers_.held() < kMaxConnections &&
        now >= accept_paused_until_;
    auto wake_at = may_accept || !accept_failing_ ? Clock::time_point::max() : accept_paused_until_;
    for (const Incoming& connection : incoming_) wake_at = std::min(wake_at, connection.deadline);
    int timeout_ms = -1;
    if (wake_at != Clock::time_point::max()) {
      timeout_ms =
          static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wake_at - now).count());
    }

    entries.assign(
        {{wake_read_.get(), POLLIN, 0}, {may_accept ? listen_fd_.get() : -1, POLLIN, 0}});
    for (const Incoming& connection : incoming_)
      entries.push_back({connection.fd.get(), POLLIN, 0});
    if (poll(entries.data(), entries.size(), timeout_ms) < 0) {
      if (errno == EINTR) continue;
      LogW(kLogError, u"IPC: poll failed (errno %d)", errno);
      break;
    }
    if (entries[0].revents != 0) {
      char drained[64];
      while (read(wake_read_.get(), drained, sizeof(drained)) > 0) {
      }
    }
    for (size_t i = 0; i < incoming_.size(); ++i) {
      if (entries[i + 2].revents != 0) Receive(incoming_[i]);
    }
    std::erase_if(incoming_, [](const Incoming& connection) { return connection.fd.get() < 0; });
    // A connection accepted now is polled from the next round on.
    if (entries[1].revents != 0) Accept();
  }
  incoming_.clear();
}

void SocketReceiver::Accept() {
  platform::ScopedFd fd(accept4(listen_fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (fd.get() < 0) {
    if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM) return;
    // The connection stays in the backlog and poll would report it again at
    // once: pause instead of spinning until descriptors are free again.
    if (!accept_failing_) LogW(kLogSysFail, u"IPC: accept failed (errno %d)", errno);
    accept_failing_ = true;
    accept_paused_until_ = Clock::now() + std::chrono::milliseconds(kAcceptRetryMs);
    return;
  }
  accept_failing_ = false;
  if (!PeerIsSameUser(fd.get())) {
    LogW(kLogError, u"IPC: refused a peer of another user");
    return;
  }
  try {
    Incoming& connection = incoming_.emplace_back();
    connection.fd = std::move(fd);
    connection.deadline = Clock::now() + kRequestTimeout;
  } catch (const std::bad_alloc&) {
    LogW(kLogError, u"IPC: no memory for a connection; refused");
  }
}

void SocketReceiver::Receive(Incoming& connection) {
  for (;;) {
    RequestReader& reader = connection.reader;
    ssize_t received = 0;
    if (reader.wanted() > 0) {
      received = recv(connection.fd.get(), reader.next(), reader.wanted(), MSG_DONTWAIT);
      if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      if (received <= 0) {
        reader.LogIncomplete();
        connection.fd.reset();
        return;
      }
    }
    switch (reader.Took(static_cast<size_t>(received))) {
      case RequestReader::State::kReading:
        continue;
      case RequestReader::State::kRefused:
        connection.fd.reset();
        return;
      case RequestReader::State::kComplete:
        workers_.Dispatch(
            {SocketConnection(std::move(connection.fd)), reader.length(), reader.TakeMessage()});
        return;
    }
  }
}

}  // namespace

std::unique_ptr<Receiver> Receiver::Start(const char16_t* channel, IpcMessageCallback callback,
                                          uintptr_t context, int32_t& result) {
  auto receiver = std::make_unique<SocketReceiver>(callback, context);
  result = receiver->Listen(channel);
  if (result != kIpcOk) return nullptr;
  return receiver;
}

// glibc keeps what a worker freed in that thread's arena; trimming hands it
// back.
void ReleaseFreedMemory() { malloc_trim(0); }

}  // namespace wardex::ipc
