// The pipe server: a Unix domain socket per channel in the user's private
// runtime folder. One receiving thread accepts connections and reads their
// requests side by side; only a complete request is handed to a worker,
// which runs the message callback and writes the reply. So a client that is
// slow or silent holds a connection slot, never a worker.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/scoped_fd.h"
#include "wardex/ipc.h"

namespace wardex::ipc {

class IpcServer final : public IIpcServer {
 public:
  // Callbacks run at once; further complete requests wait for a worker.
  static constexpr int kMaxWorkers = 32;
  // Connections open at once (being read, waiting for a worker or being
  // served); further clients wait in the listen backlog. With the frame
  // limit this bounds what requests can make the server hold.
  static constexpr int kMaxConnections = 128;

  IpcServer() = default;
  ~IpcServer() override;
  IpcServer(const IpcServer&) = delete;
  IpcServer& operator=(const IpcServer&) = delete;

  uint32_t GetFrameLimit() override;
  int32_t StartListening(const char16_t* channel, IpcMessageCallback callback,
                         uintptr_t context) override;
  void StopListening() override;

 private:
  // A connection whose request is being read (receiving thread only).
  struct Incoming {
    platform::ScopedFd fd;
    std::chrono::steady_clock::time_point deadline;
    uint8_t header[4] = {};
    size_t header_got = 0;
    uint32_t length = 0;
    std::unique_ptr<char[]> message;  // allocated once the header is complete
    size_t got = 0;
  };
  // A complete request waiting for a worker.
  struct Request {
    platform::ScopedFd fd;
    uint32_t length = 0;
    std::unique_ptr<char[]> message;
  };

  void ReceiveLoop();
  void Accept();
  // Reads what |connection| has. Once it is done with (dropped, or handed
  // to a worker) it holds no descriptor.
  void Receive(Incoming& connection);
  // Closes a connection whose request did not arrive whole, logging any
  // part that did.
  static void DropIncomplete(Incoming& connection);
  // Hands a complete request to a worker; refuses it when none can be had.
  void Dispatch(Incoming& connection);
  void WorkerLoop();
  void Serve(Request& request, char16_t* reply);
  // Ends a worker's connection and lets the receiving thread accept again.
  void Finish(Request& request);
  void Wake();

  IpcMessageCallback callback_ = nullptr;
  uintptr_t context_ = 0;
  std::string socket_path_;
  platform::ScopedFd listen_fd_;
  platform::ScopedFd lock_fd_;
  platform::ScopedFd wake_read_;  // a pipe that wakes the receiving thread
  platform::ScopedFd wake_write_;
  std::thread receiver_;
  std::vector<Incoming> incoming_;  // receiving thread only
  std::chrono::steady_clock::time_point accept_paused_until_;
  bool accept_failing_ = false;  // logged once per run of failures

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<Request> ready_;  // complete, not yet taken by a worker
  int serving_ = 0;            // taken by a worker
  int idle_workers_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace wardex::ipc
