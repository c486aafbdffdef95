#include "ipc_workers.h"

#include <exception>
#include <new>
#include <system_error>

#include "ipc_wire.h"
#include "wardex/crashlog.h"

namespace wardex::ipc {
namespace {

constexpr auto kReplyTimeout = std::chrono::seconds(5);
// Requests this large hand the memory they freed back to the system.
constexpr uint32_t kTrimAfterBytes = 64 * 1024;

// The capacity announced to the callback: odd, so that a reply size the
// callback left untouched can never be mistaken for a written reply, which
// is always a whole number of UTF-16 units.
constexpr uint32_t kReplyCapacity = kFrameLimit + 1;

// The reply frame's header is written right before the text, so that both
// leave in one write (one message on a pipe): the text starts this many
// units into a worker's buffer.
constexpr size_t kHeadroomUnits = 4;
static_assert(kHeadroomUnits * sizeof(char16_t) >= kReplyHeaderSize);

}  // namespace

Workers::Workers(IpcMessageCallback callback, uintptr_t context, std::function<void()> finished)
    : callback_(callback), context_(context), finished_(std::move(finished)) {}

Workers::~Workers() { Stop(); }

int Workers::held() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(ready_.size()) + serving_;
}

void Workers::Dispatch(Request request) {
  std::lock_guard lock(mutex_);
  try {
    // A failed push closes the connection with the request.
    ready_.push_back(std::move(request));
  } catch (const std::bad_alloc&) {
    LogW(kLogError, u"IPC: no memory for a request; refused");
    return;
  }
  if (idle_workers_ < static_cast<int>(ready_.size()) &&
      static_cast<int>(workers_.size()) < kMaxWorkers) {
    try {
      workers_.emplace_back(&Workers::WorkerLoop, this);
    } catch (const std::exception& error) {
      // No thread (a process limit) or no memory for one: this request is
      // refused, the server goes on with the workers it has.
      LogW(kLogSysFail, u"IPC: no worker for a request (%S); refused", error.what());
      ready_.pop_back();
      return;
    }
  }
  changed_.notify_all();
}

void Workers::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  // A callback in progress runs to its end.
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  ready_.clear();
  idle_workers_ = 0;
}

void Workers::WorkerLoop() {
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
    const std::unique_ptr<char16_t[]> buffer(
        new (std::nothrow) char16_t[kHeadroomUnits + kReplyCapacity / 2 + 1]);
    if (buffer) {
      Serve(request, buffer.get() + kHeadroomUnits);
    } else {
      LogW(kLogError, u"IPC: no memory for a reply; request refused");
    }
    request.connection.reset();
    {
      std::lock_guard lock(mutex_);
      --serving_;
    }
    finished_();
  }
}

void Workers::Serve(Request& request, char16_t* reply) {
  // A client that gave up (its time-out passed while the request waited for
  // a worker) is not answered, and its request is not run: it may be sent
  // again, and must not then run twice.
  if (request.connection->PeerLeft()) {
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
  // again but may be kept by the allocator: give it back, or a flood of large
  // messages leaves the process that much bigger for good.
  if (request.length >= kTrimAfterBytes) ReleaseFreedMemory();

  uint8_t* frame = reinterpret_cast<uint8_t*>(reply) - kReplyHeaderSize;
  if (reply_size == kReplyCapacity) {
    frame[0] = kNoReply;
    reply_size = 0;
  } else if (reply_size > kReplyCapacity) {
    LogW(kLogError, u"IPC: the message callback reported a reply of %u bytes", reply_size);
    return;
  } else {
    frame[0] = kReplyFollows;
  }
  PutLength(frame + 1, reply_size);
  (void)request.connection->Write(frame, kReplyHeaderSize + reply_size,
                                  Clock::now() + kReplyTimeout);
}

}  // namespace wardex::ipc
