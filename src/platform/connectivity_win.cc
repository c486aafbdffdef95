// The Internet check through the Network List Manager.
#include "osal/last_error.h"
#include "platform/connectivity.h"
#include "platform/internet_errors.h"
#include "platform/windows_api.h"

namespace wardex::platform {

InternetState GetInternetState() {
  // The calling thread may already be in an apartment of either kind; only
  // a successful initialisation here is undone here.
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  InternetState state = InternetState::kUnavailable;
  INetworkListManager* manager = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL,
                                 IID_INetworkListManager, reinterpret_cast<void**>(&manager)))) {
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (SUCCEEDED(manager->IsConnectedToInternet(&connected))) {
      state = connected == VARIANT_TRUE ? InternetState::kConnected : InternetState::kNotConnected;
    }
    manager->Release();
  }
  if (SUCCEEDED(apartment)) CoUninitialize();
  if (state != InternetState::kConnected) KaOSAL::SetLastError(kInternetDisconnected);
  return state;
}

}  // namespace wardex::platform
