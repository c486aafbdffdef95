// The machine's network adapters, as the adapter-information list gives them:
// in interface order, with their hardware address and first gateway.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wardex::platform {

struct NetworkAdapter {
  std::string name;              // interface name, e.g. "eth0"
  bool ethernet = false;         // the Ethernet adapter type
  std::vector<uint8_t> address;  // hardware address bytes
  std::string gateway;           // first gateway as dotted IPv4 text, empty when none
};

// Every adapter of the machine; empty when none can be read.
[[nodiscard]] std::vector<NetworkAdapter> GetNetworkAdapters();

}  // namespace wardex::platform
