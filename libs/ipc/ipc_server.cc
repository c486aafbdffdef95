#include "ipc_server.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "ipc_channel.h"
#include "ipc_wire.h"
#include "osal/wide_format.h"
#include "wardex/crashlog.h"

namespace wardex::ipc {
namespace {

// A client must deliver its whole request this soon after it was accepted,
// so that a silent or half-sent client holds its connection slot briefly.
constexpr auto kRequestTimeout = std::chrono::seconds(5);
constexpr auto kReplyTimeout = std::chrono::seconds(5);
constexpr int kListenBacklog = 128;
// The pause after accept failed for want of descriptors or memory.
constexpr int kAcceptRetryMs = 100;
// Requests this large hand the memory they freed back to the system.
constexpr uint32_t kTrimAfterBytes = 64 * 1024;

// The capacity announced to the callback: odd, so that a reply size the
// callback left untouched can never be mistaken for a written reply, which
// is always a whole number of UTF-16 units.
constexpr uint32_t kReplyCapacity = kFrameLimit + 1;

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

}  // namespace

IpcServer::~IpcServer() { StopListening(); }

uint32_t IpcServer::GetFrameLimit() { return kFrameLimit; }

int32_t IpcServer::StartListening(const char16_t* channel, IpcMessageCallback callback,
                                  uintptr_t context) {
  if (callback == nullptr) return kIpcInvalidArgument;
  if (listen_fd_.get() >= 0) return kIpcChannelInUse;
  ChannelPathError path_error = ChannelPathError::kNone;
  socket_path_ = ChannelSocketPath(channel, &path_error);
  if (socket_path_.empty()) {
    LogW(kLogError, u"IPC: channel \"%s\": %S", channel ? channel : u"",
         ChannelPathErrorText(path_error));
    return kIpcInvalidArgument;
  }
  if (const int32_t locked = LockChannel(socket_path_, channel ? channel : u"", lock_fd_);
      locked != kIpcOk) {
    return locked;
  }
  listen_fd_ = BindSocket(socket_path_);
  int wake[2];
  if (listen_fd_.get() < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    LogW(kLogError, u"IPC: cannot listen at %s (errno %d)", Wide(socket_path_).c_str(), errno);
    listen_fd_.reset();
    lock_fd_.reset();
    return kIpcIoError;
  }
  wake_read_.reset(wake[0]);
  wake_write_.reset(wake[1]);
  callback_ = callback;
  context_ = context;
  stopping_ = false;
  try {
    receiver_ = std::thread(&IpcServer::ReceiveLoop, this);
  } catch (const std::system_error& error) {
    LogW(kLogSysFail, u"IPC: cannot start the server's thread (%S)", error.what());
    unlink(socket_path_.c_str());
    listen_fd_.reset();
    wake_read_.reset();
    wake_write_.reset();
    lock_fd_.reset();
    return kIpcIoError;
  }
  return kIpcOk;
}

void IpcServer::StopListening() {
  if (!receiver_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  Wake();
  receiver_.join();
  // A callback in progress runs to its end.
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  ready_.clear();
  idle_workers_ = 0;
  unlink(socket_path_.c_str());
  listen_fd_.reset();
  wake_read_.reset();
  wake_write_.reset();
  lock_fd_.reset();
}

void IpcServer::Wake() { (void)!write(wake_write_.get(), "x", 1); }

void IpcServer::ReceiveLoop() {
  std::vector<pollfd> entries;
  for (;;) {
    const auto now = Clock::now();
    // Requests not complete in time are dropped; a client that sent nothing
    // sent no frame and is dropped without a word. Dropped before the slots
    // are counted: with every slot expiring at once, a count taken earlier
    // would leave the listening socket out of a poll that nothing ends.
    for (Incoming& connection : incoming_) {
      if (connection.deadline <= now) DropIncomplete(connection);
    }
    std::erase_if(incoming_, [](const Incoming& connection) { return connection.fd.get() < 0; });
    bool may_accept;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      may_accept = static_cast<int>(incoming_.size() + ready_.size()) + serving_ < kMaxConnections;
    }
    may_accept = may_accept && now >= accept_paused_until_;
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

void IpcServer::Accept() {
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

void IpcServer::DropIncomplete(Incoming& connection) {
  if (connection.header_got == sizeof(connection.header)) {
    LogW(kLogError, u"IPC: incomplete frame of %u bytes dropped", connection.length);
  } else if (connection.header_got > 0) {
    LogW(kLogError, u"IPC: incomplete frame header dropped");
  }
  connection.fd.reset();
}

void IpcServer::Receive(Incoming& connection) {
  for (;;) {
    const bool in_header = connection.header_got < sizeof(connection.header);
    char* into = in_header ? reinterpret_cast<char*>(connection.header) + connection.header_got
                           : connection.message.get() + connection.got;
    const size_t wanted = in_header ? sizeof(connection.header) - connection.header_got
                                    : connection.length - connection.got;
    ssize_t received = 0;
    if (wanted > 0) {
      received = recv(connection.fd.get(), into, wanted, MSG_DONTWAIT);
      if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      if (received <= 0) {
        DropIncomplete(connection);
        return;
      }
    }
    if (in_header) {
      connection.header_got += static_cast<size_t>(received);
      if (connection.header_got < sizeof(connection.header)) continue;
      connection.length = GetLength(connection.header);
      if (connection.length > kFrameLimit) {
        LogW(kLogError, u"IPC: refused a frame of %u bytes (limit %u)", connection.length,
             kFrameLimit);
        connection.fd.reset();
        return;
      }
      // Not value-initialised: only the pages the text fills are touched.
      connection.message.reset(new (std::nothrow) char[connection.length]);
      if (!connection.message) {
        LogW(kLogError, u"IPC: no memory for a frame of %u bytes; refused", connection.length);
        connection.fd.reset();
        return;
      }
      continue;
    }
    connection.got += static_cast<size_t>(received);
    if (connection.got < connection.length) continue;
    Dispatch(connection);
    return;
  }
}

void IpcServer::Dispatch(Incoming& connection) {
  std::lock_guard lock(mutex_);
  try {
    // The request owns the descriptor from here; a failed push closes it.
    ready_.push_back({std::move(connection.fd), connection.length, std::move(connection.message)});
  } catch (const std::bad_alloc&) {
    LogW(kLogError, u"IPC: no memory for a request; refused");
    return;
  }
  if (idle_workers_ < static_cast<int>(ready_.size()) &&
      static_cast<int>(workers_.size()) < kMaxWorkers) {
    try {
      workers_.emplace_back(&IpcServer::WorkerLoop, this);
    } catch (const std::exception& error) {
      // No thread (RLIMIT_NPROC) or no memory for one: this request is
      // refused, the server goes on with the workers it has.
      LogW(kLogSysFail, u"IPC: no worker for a request (%S); refused", error.what());
      ready_.pop_back();
      return;
    }
  }
  changed_.notify_all();
}

void IpcServer::WorkerLoop() {
  for (;;) {
    Request request;
    {
      std::unique_lock lock(mutex_);
      ++idle_workers_;
      changed_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
      --idle_workers_;
      if (stopping_) return;
      request = std::move(ready_.front());
      ready_.pop_front();
      ++serving_;
    }
    // Per request, not per worker: a worker's buffer placed on pages that
    // earlier large messages had touched kept them resident as long as the
    // worker lived. Not value-initialised: pages a short reply never touches
    // stay unallocated.
    const std::unique_ptr<char16_t[]> reply(new (std::nothrow) char16_t[kReplyCapacity / 2 + 1]);
    if (reply) {
      Serve(request, reply.get());
    } else {
      LogW(kLogError, u"IPC: no memory for a reply; request refused");
    }
    Finish(request);
  }
}

void IpcServer::Finish(Request& request) {
  request.fd.reset();
  {
    std::lock_guard lock(mutex_);
    --serving_;
  }
  Wake();
}

void IpcServer::Serve(Request& request, char16_t* reply) {
  // A client that gave up (its time-out passed while the request waited for
  // a worker) is not answered, and its request is not run: it may be sent
  // again, and must not then run twice.
  pollfd peer{request.fd.get(), POLLRDHUP, 0};
  if (poll(&peer, 1, 0) > 0 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
    LogW(kLogInfo, u"IPC: the client left before its request of %u bytes was handled",
         request.length);
    return;
  }
  uint32_t reply_size = kReplyCapacity;
  try {
    callback_(request.message.get(), request.length, reply, &reply_size, context_);
  } catch (const std::exception& error) {
    LogW(kLogError, u"IPC: the message callback failed (%S); no reply", error.what());
    return;
  } catch (...) {
    LogW(kLogError, u"IPC: the message callback failed; no reply");
    return;
  }
  request.message.reset();
  // What a large request cost (its text, the callback's copies of it) is free
  // again but kept by the allocator in this thread's arena: give it back, or
  // a flood of large messages leaves the process that much bigger for good.
  if (request.length >= kTrimAfterBytes) malloc_trim(0);

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
  if (WriteExact(request.fd.get(), answer, sizeof(answer), reply_deadline) == IoStatus::kOk) {
    (void)WriteExact(request.fd.get(), reply, reply_size, reply_deadline);
  }
}

}  // namespace wardex::ipc
