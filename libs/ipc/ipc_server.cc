#include "ipc_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ipc_channel.h"
#include "ipc_wire.h"
#include "osal/wide_format.h"
#include "wardex/crashlog.h"

namespace wardex::ipc {
namespace {

// A client must deliver its whole request this soon after it was accepted,
// so that a silent or half-sent client only ever holds its own worker briefly.
constexpr auto kRequestTimeout = std::chrono::seconds(5);
constexpr auto kReplyTimeout = std::chrono::seconds(5);
constexpr int kListenBacklog = 128;
// The pause after accept failed for want of descriptors or memory.
constexpr int kAcceptRetryMs = 100;

// The capacity announced to the callback: odd, so that a reply size the
// callback left untouched can never be mistaken for a written reply, which
// is always a whole number of UTF-16 units.
constexpr uint32_t kReplyCapacity = kFrameLimit + 1;

std::u16string Wide(const std::string& text) { return KaOSAL::FromUtf8(text); }

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Takes the channel's lock file; fails while another live server holds it.
// The suffix starts with a "%" that no two hexadecimal digits follow, which
// no escaped channel name holds, so no channel's socket is another's lock
// (with ".lock", a server on "x.lock" would replace the lock of "x").
int LockChannel(const std::string& socket_path) {
  const std::string lock_path = socket_path + "%lock";
  int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int BindSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // A socket left by a crashed server is stale: we hold the channel's lock.
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, kListenBacklog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

IpcServer::~IpcServer() { StopListening(); }

uint32_t IpcServer::GetFrameLimit() { return kFrameLimit; }

int32_t IpcServer::StartListening(const char16_t* channel, IpcMessageCallback callback,
                                  uintptr_t context) {
  if (callback == nullptr) return kIpcInvalidArgument;
  if (listen_fd_ >= 0) return kIpcChannelInUse;
  socket_path_ = ChannelSocketPath(channel);
  if (socket_path_.empty()) {
    LogW(kLogError, u"IPC: no private socket folder for channel \"%s\"", channel ? channel : u"");
    return kIpcInvalidArgument;
  }
  lock_fd_ = LockChannel(socket_path_);
  if (lock_fd_ < 0) {
    LogW(kLogError, u"IPC: channel \"%s\" is in use by another server", channel ? channel : u"");
    return kIpcChannelInUse;
  }
  listen_fd_ = BindSocket(socket_path_);
  if (listen_fd_ < 0 || pipe2(wake_fds_, O_CLOEXEC) != 0) {
    LogW(kLogError, u"IPC: cannot listen at %s (errno %d)", Wide(socket_path_).c_str(), errno);
    CloseFd(listen_fd_);
    CloseFd(lock_fd_);
    return kIpcIoError;
  }
  callback_ = callback;
  context_ = context;
  stopping_ = false;
  acceptor_ = std::thread(&IpcServer::AcceptLoop, this);
  return kIpcOk;
}

void IpcServer::StopListening() {
  if (!acceptor_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wake workers that wait for a slow client; a callback in progress runs to its end.
    for (int fd : serving_) shutdown(fd, SHUT_RD);
  }
  changed_.notify_all();
  (void)!write(wake_fds_[1], "x", 1);
  acceptor_.join();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  for (int fd : pending_) close(fd);
  pending_.clear();
  idle_workers_ = 0;
  unlink(socket_path_.c_str());
  CloseFd(listen_fd_);
  CloseFd(wake_fds_[0]);
  CloseFd(wake_fds_[1]);
  CloseFd(lock_fd_);
}

void IpcServer::AcceptLoop() {
  bool accept_failing = false;  // logged once per run of failures
  for (;;) {
    {
      // Accept only when a worker can take the connection; the rest wait in
      // the backlog, bounded by the clients' own time-outs.
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] {
        return stopping_ || idle_workers_ > static_cast<int>(pending_.size()) ||
               static_cast<int>(workers_.size()) < kMaxWorkers;
      });
      if (stopping_) return;
    }
    pollfd entries[2] = {{listen_fd_, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
    if (poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      LogW(kLogError, u"IPC: poll failed (errno %d)", errno);
      return;
    }
    if (entries[1].revents != 0) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM) continue;
      // The connection stays in the backlog and poll reports it again at
      // once: pause instead of spinning until descriptors are free again.
      if (!accept_failing) LogW(kLogSysFail, u"IPC: accept failed (errno %d)", errno);
      accept_failing = true;
      pollfd wake = {wake_fds_[0], POLLIN, 0};
      if (poll(&wake, 1, kAcceptRetryMs) > 0) return;
      continue;
    }
    accept_failing = false;
    if (!PeerIsSameUser(fd)) {
      LogW(kLogError, u"IPC: refused a peer of another user");
      close(fd);
      continue;
    }
    std::lock_guard lock(mutex_);
    pending_.push_back(fd);
    if (idle_workers_ < static_cast<int>(pending_.size())) {
      workers_.emplace_back(&IpcServer::WorkerLoop, this);
    }
    changed_.notify_all();
  }
}

int IpcServer::NextConnection() {
  std::unique_lock lock(mutex_);
  ++idle_workers_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
  --idle_workers_;
  if (stopping_) return -1;
  const int fd = pending_.front();
  pending_.pop_front();
  serving_.insert(fd);
  return fd;
}

void IpcServer::WorkerLoop() {
  // Not value-initialised: pages a short reply never touches stay unallocated.
  std::unique_ptr<char16_t[]> reply(new char16_t[kReplyCapacity / 2 + 1]);
  for (int fd = NextConnection(); fd >= 0; fd = NextConnection()) {
    Serve(fd, reply.get());
    std::lock_guard lock(mutex_);
    serving_.erase(fd);
    close(fd);
  }
}

void IpcServer::Serve(int fd, char16_t* reply) {
  const auto request_deadline = Clock::now() + kRequestTimeout;
  uint8_t header[4];
  // A client that goes or stays silent before its first byte sent no frame.
  if (ReadExact(fd, header, 1, request_deadline) != IoStatus::kOk) return;
  if (ReadExact(fd, header + 1, sizeof(header) - 1, request_deadline) != IoStatus::kOk) {
    LogW(kLogError, u"IPC: incomplete frame header dropped");
    return;
  }
  const uint32_t length = GetLength(header);
  if (length > kFrameLimit) {
    LogW(kLogError, u"IPC: refused a frame of %u bytes (limit %u)", length, kFrameLimit);
    return;
  }
  std::string message(length, '\0');
  if (ReadExact(fd, message.data(), length, request_deadline) != IoStatus::kOk) {
    LogW(kLogError, u"IPC: incomplete frame of %u bytes dropped", length);
    return;
  }

  uint32_t reply_size = kReplyCapacity;
  callback_(message.data(), length, reply, &reply_size, context_);

  uint8_t answer[5];
  if (reply_size == kReplyCapacity) {
    answer[0] = kNoReply;
    reply_size = 0;
  } else if (reply_size > kReplyCapacity) {
    LogW(kLogError, u"IPC: the message callback reported a reply of %u bytes", reply_size);
    return;
  } else {
    answer[0] = kReplyFollows;
  }
  PutLength(answer + 1, reply_size);
  const auto reply_deadline = Clock::now() + kReplyTimeout;
  if (WriteExact(fd, answer, sizeof(answer), reply_deadline) == IoStatus::kOk) {
    (void)WriteExact(fd, reply, reply_size, reply_deadline);
  }
}

}  // namespace wardex::ipc
