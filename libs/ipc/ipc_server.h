// The pipe server: a Unix domain socket per channel in the user's private
// runtime folder, one worker thread per connection up to kMaxWorkers.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "wardex/ipc.h"

namespace wardex::ipc {

class IpcServer final : public IIpcServer {
 public:
  // Connections served at once; further clients wait in the listen backlog
  // until a worker is free (a message dialog may hold its connection long).
  static constexpr int kMaxWorkers = 32;

  IpcServer() = default;
  ~IpcServer() override;
  IpcServer(const IpcServer&) = delete;
  IpcServer& operator=(const IpcServer&) = delete;

  uint32_t GetFrameLimit() override;
  int32_t StartListening(const char16_t* channel, IpcMessageCallback callback,
                         uintptr_t context) override;
  void StopListening() override;

 private:
  void AcceptLoop();
  void WorkerLoop();
  void Serve(int fd, char16_t* reply);
  // Takes a connection for a worker, or -1 once the server stops.
  int NextConnection();

  IpcMessageCallback callback_ = nullptr;
  uintptr_t context_ = 0;
  std::string socket_path_;
  int listen_fd_ = -1;
  int lock_fd_ = -1;
  int wake_fds_[2] = {-1, -1};
  std::thread acceptor_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<int> pending_;  // accepted, not yet taken by a worker
  std::set<int> serving_;    // taken by a worker
  int idle_workers_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace wardex::ipc
