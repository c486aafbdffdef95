#include "modules/quick_check_request.h"

#include <memory>
#include <string>

#include "config/install_config.h"
#include "modules/ipc_loader.h"
#include "modules/module_message.h"
#include "osal/wide_format.h"

namespace wardex {
namespace {

constexpr int32_t kShowQuickCheckKind = 13;
constexpr uint32_t kSendTimeoutMs = 3000;

}  // namespace

void SendShowQuickCheckRequest() {
  auto loader = std::make_unique<IpcLoader>(IpcLoader::GetLibraryPath().ToString());
  IIpcClient* client = loader->CreateClient();
  const KaString text = WriteModuleMessage(kShowQuickCheckKind, ModuleMessage{});
  const std::string bytes = KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
  if (client != nullptr) {
    // The running agent listens on the configured channel, not the default one.
    client->SetChannel(GetIpcChannelName().c_str());
    uint32_t reply_size = 0;
    client->SendMessage(GetRemoteServerAddress().c_str(), bytes.data(),
                        static_cast<uint32_t>(bytes.size()), nullptr, &reply_size, kSendTimeoutMs);
  }
  loader->DestroyClient();
}

}  // namespace wardex
