// The agent's pipe server: the IPC library, its server and the dispatch its
// callbacks reach the frame's handler through (the callback's context).
// Going, it refuses new callbacks, stops the cached modules' tasks so that
// callbacks inside them return, waits until none runs, and destroys the
// server before the library goes.
#pragma once

#include <memory>

#include "modules/ipc_loader.h"
#include "modules/module_cache.h"
#include "modules/pipe_callback.h"
#include "osal/ka_string.h"

namespace wardex {

class PipeServer {
 public:
  PipeServer(PipeMessageHandler& handler, ModuleCache& cache) : dispatch_(handler), cache_(cache) {}
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Loads the IPC library (modules/common/kvl_ipc32.so beside the agent).
  void LoadLibrary();
  // Plug-in code: creates the server and starts it on |channel|.
  void Start(const KaOSAL::KaString& channel);

  // Callbacks being handled now.
  [[nodiscard]] int32_t running_callbacks() const { return dispatch_.gate().inside(); }
  // Set once the agent began to stop: a waiting handler gives up.
  [[nodiscard]] bool stopping() const { return dispatch_.gate().closed(); }

 private:
  PipeDispatch dispatch_;
  ModuleCache& cache_;
  std::unique_ptr<IpcLoader> ipc_loader_;
  IIpcServer* server_ = nullptr;
};

}  // namespace wardex
