#include "modules/ipc_loader.h"

#include "config/module_path.h"
#include "modules/module_library.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

constexpr char16_t kIpcFolder[] = u"modules/common";
constexpr char16_t kIpcLibraryName[] = u"kvl_ipc32";

template <typename Fn>
Fn Lookup(platform::LibraryHandle library, const char* name) {
  return reinterpret_cast<Fn>(platform::GetProcAddress(library, name));
}

}  // namespace

IpcLoader::IpcLoader(const KaOSAL::KaString& library_path) {
  library_ = LoadModuleLibrary(KaOSAL::KaPath(library_path));
  if (library_ == nullptr) {
    LogW(kLogError, u"IPCLoader: Could not load IPC-library at %s!", library_path.c_str());
    return;
  }
  create_client_ = Lookup<CreateClientInstanceFn>(library_, kCreateClientInstanceExport);
  create_server_ = Lookup<CreateServerInstanceFn>(library_, kCreateServerInstanceExport);
  destroy_client_ = Lookup<DestroyClientInstanceFn>(library_, kDestroyClientInstanceExport);
  destroy_server_ = Lookup<DestroyServerInstanceFn>(library_, kDestroyServerInstanceExport);
  if (!create_client_ || !create_server_ || !destroy_client_ || !destroy_server_) {
    LogW(kLogError, u"IPCLoader: Error in DLL-interface!");
  }
}

IpcLoader::~IpcLoader() {
  DestroyClient();
  DestroyServer();
  if (library_ != nullptr && platform::FreeLibrary(library_)) library_ = nullptr;
}

KaOSAL::KaPath IpcLoader::GetLibraryPath() {
  KaOSAL::KaPath path(GetExecutablePath());
  path.SetFileNameAndExt(u"");
  path.AppendDir(kIpcFolder);
  path.SetFileName(kIpcLibraryName);
  path.SetExt(platform::kLibraryExtension);
  return path;
}

IIpcClient* IpcLoader::CreateClient() {
  if (library_ != nullptr && create_client_ != nullptr) client_ = create_client_();
  return client_;
}

IIpcServer* IpcLoader::CreateServer() {
  if (library_ != nullptr && create_server_ != nullptr) server_ = create_server_();
  return server_;
}

void IpcLoader::DestroyClient() {
  if (library_ == nullptr || client_ == nullptr) return;
  if (destroy_client_ != nullptr) destroy_client_(client_);
  client_ = nullptr;
}

void IpcLoader::DestroyServer() {
  if (library_ == nullptr || server_ == nullptr) return;
  if (destroy_server_ != nullptr) destroy_server_(server_);
  server_ = nullptr;
}

}  // namespace wardex
