// The IPC library's entry points, looked up by name by the agent and tools.
#include "ipc_client.h"
#include "ipc_server.h"
#include "wardex/export.h"

WARDEX_EXPORT wardex::IIpcClient* CreateClientInstance() { return new wardex::ipc::IpcClient(); }

WARDEX_EXPORT wardex::IIpcServer* CreateServerInstance() { return new wardex::ipc::IpcServer(); }

WARDEX_EXPORT void WARDEX_STDCALL DestroyClientInstance(wardex::IIpcClient* client) {
  delete static_cast<wardex::ipc::IpcClient*>(client);
}

WARDEX_EXPORT void WARDEX_STDCALL DestroyServerInstance(wardex::IIpcServer* server) {
  delete static_cast<wardex::ipc::IpcServer*>(server);
}
