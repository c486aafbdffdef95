#include "app/pipe_server.h"

#include "wardex/crashlog.h"

namespace wardex {

void PipeServer::LoadLibrary() {
  ipc_loader_ = std::make_unique<IpcLoader>(IpcLoader::GetLibraryPath().ToString());
}

void PipeServer::Start(const KaOSAL::KaString& channel) {
  if (!ipc_loader_) return;
  server_ = ipc_loader_->CreateServer();
  if (server_ != nullptr) {
    static_cast<void>(
        server_->StartListening(channel.c_str(), PipeMessageCallback, dispatch_.context()));
  }
}

PipeServer::~PipeServer() {
  CallbackGate& gate = dispatch_.gate();
  // No new callbacks. The cached modules' tasks stop, so that callbacks
  // inside them end; then the ones running finish.
  gate.Refuse();
  for (const auto& [name, loader] : cache_.Snapshot()) {
    IModule* module = loader->instance();
    if (module == nullptr || (module->GetFlags() & kModuleFlagRunsTasks) == 0) continue;
    // A module's exception must not end the agent before the steps that follow.
    try {
      module->StopTask(1);
    } catch (...) {
      LogW(kLogNotable, u"Tray ### StopTask of %s threw; ignored", name.c_str());
    }
  }
  gate.Close();
  // The server and the library.
  if (ipc_loader_) ipc_loader_->DestroyServer();
  server_ = nullptr;
  ipc_loader_.reset();
}

}  // namespace wardex
