// IpcLoader: the IPC library (modules/common/kvl_ipc32.so), loaded with the
// trust check, and the server and client instances made from it.
#pragma once

#include "osal/ka_path.h"
#include "platform/library_loader.h"
#include "wardex/ipc.h"

namespace wardex {

class IpcLoader {
 public:
  // Loads the library at |library_path|; logs and stays usable (creating
  // nothing) when it is missing, untrusted or incomplete.
  explicit IpcLoader(const KaOSAL::KaString& library_path);
  virtual ~IpcLoader();
  IpcLoader(const IpcLoader&) = delete;
  IpcLoader& operator=(const IpcLoader&) = delete;

  // The library's place: modules/common/kvl_ipc32.so beside the executable.
  static KaOSAL::KaPath GetLibraryPath();

  // Make an instance when the library has the entry point (a previous one is
  // overwritten, not destroyed); return the kept instance or null.
  IIpcClient* CreateClient();
  IIpcServer* CreateServer();
  void DestroyClient();
  void DestroyServer();

 private:
  platform::LibraryHandle library_ = nullptr;
  CreateClientInstanceFn create_client_ = nullptr;
  CreateServerInstanceFn create_server_ = nullptr;
  DestroyClientInstanceFn destroy_client_ = nullptr;
  DestroyServerInstanceFn destroy_server_ = nullptr;
  IIpcClient* client_ = nullptr;
  IIpcServer* server_ = nullptr;
};

}  // namespace wardex
