// The adapters of GetAdaptersAddresses, in the order it lists them, with
// the first IPv4 gateway of each.
#include "platform/network_adapters.h"

#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

constexpr ULONG kFirstBufferSize = 16 * 1024;  // enough for most machines at once
constexpr int kAttempts = 4;                   // adapters may appear between the calls

std::string FirstIPv4Gateway(const IP_ADAPTER_GATEWAY_ADDRESS_LH* gateway) {
  for (; gateway != nullptr; gateway = gateway->Next) {
    const SOCKADDR* address = gateway->Address.lpSockaddr;
    if (address == nullptr || address->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof(text)) != nullptr) {
      return text;
    }
  }
  return {};
}

}  // namespace

std::vector<NetworkAdapter> GetNetworkAdapters() {
  constexpr ULONG kFlags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                           GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> buffer;
  ULONG size = kFirstBufferSize;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < kAttempts && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  std::vector<NetworkAdapter> adapters;
  if (result != ERROR_SUCCESS) return adapters;
  for (auto* entry = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); entry != nullptr;
       entry = entry->Next) {
    NetworkAdapter adapter;
    adapter.name = entry->AdapterName;
    adapter.ethernet = entry->IfType == IF_TYPE_ETHERNET_CSMACD;
    adapter.address.assign(entry->PhysicalAddress,
                           entry->PhysicalAddress + entry->PhysicalAddressLength);
    adapter.gateway = FirstIPv4Gateway(entry->FirstGatewayAddress);
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

}  // namespace wardex::platform
