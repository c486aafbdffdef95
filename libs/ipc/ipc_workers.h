// The server's workers, shared by every platform's receiver: each takes a
// complete request, runs the message callback and writes the reply. At most
// kMaxWorkers run; they are kept for reuse.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ipc_connection.h"
#include "wardex/ipc.h"

namespace wardex::ipc {

// A complete request, taken from its connection by the receiving thread.
struct Request {
  std::unique_ptr<Connection> connection;
  uint32_t length = 0;
  std::unique_ptr<char[]> message;
};

class Workers {
 public:
  // Callbacks run at once; further complete requests wait for a worker.
  static constexpr int kMaxWorkers = 32;

  // |finished| runs on a worker after each request, when its connection is
  // closed: the receiving thread may accept again.
  Workers(IpcMessageCallback callback, uintptr_t context, std::function<void()> finished);
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Queues |request| for a worker, starting one when none is idle; refuses
  // it (closing its connection) when no worker can be had.
  void Dispatch(Request request);
  // Requests queued or being served: each holds a connection.
  [[nodiscard]] int held();
  // Lets callbacks in progress run to their end and ends every worker;
  // requests still queued are dropped.
  void Stop();

 private:
  void WorkerLoop();
  void Serve(Request& request, char16_t* reply);

  const IpcMessageCallback callback_;
  const uintptr_t context_;
  const std::function<void()> finished_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<Request> ready_;  // complete, not yet taken by a worker
  int serving_ = 0;            // taken by a worker
  int idle_workers_ = 0;
  std::vector<std::thread> workers_;
};

// Gives memory that a large request freed back to the system, where the
// allocator would keep it.
void ReleaseFreedMemory();

}  // namespace wardex::ipc
