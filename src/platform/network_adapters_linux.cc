// Adapters from /sys/class/net (type 1 is ARPHRD_ETHER), gateways from the
// IPv4 routing table in /proc/net/route.
#include "platform/network_adapters.h"

#include <arpa/inet.h>
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace wardex::platform {
namespace {

constexpr char kNetFolder[] = "/sys/class/net/";
constexpr char kRouteTable[] = "/proc/net/route";
constexpr int kTypeEther = 1;
constexpr unsigned kRouteFlagGateway = 0x2;  // RTF_GATEWAY

// Returns the first line of a small text file, or empty.
std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Returns the bytes of a "aa:bb:cc:..." hardware address.
std::vector<uint8_t> ParseHardwareAddress(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, ':')) {
    bytes.push_back(static_cast<uint8_t>(std::strtoul(part.c_str(), nullptr, 16)));
  }
  return bytes;
}

// Returns, per interface, the gateway of its first route that has one.
std::map<std::string, std::string> FirstGateways() {
  std::map<std::string, std::string> gateways;
  std::ifstream in(kRouteTable);
  std::string line;
  std::getline(in, line);  // the column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string interface, destination, gateway_hex, flags_hex;
    if (!(fields >> interface >> destination >> gateway_hex >> flags_hex)) continue;
    const unsigned long gateway = std::strtoul(gateway_hex.c_str(), nullptr, 16);
    const unsigned long flags = std::strtoul(flags_hex.c_str(), nullptr, 16);
    if (gateway == 0 || (flags & kRouteFlagGateway) == 0 || gateways.count(interface) != 0) {
      continue;
    }
    in_addr address{};
    address.s_addr = static_cast<in_addr_t>(gateway);  // the table holds it in network order
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    gateways[interface] = text;
  }
  return gateways;
}

}  // namespace

std::vector<NetworkAdapter> GetNetworkAdapters() {
  std::vector<std::pair<int, NetworkAdapter>> indexed;
  const std::map<std::string, std::string> gateways = FirstGateways();
  DIR* folder = opendir(kNetFolder);
  if (folder == nullptr) return {};
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string base = kNetFolder + name + "/";
    NetworkAdapter adapter;
    adapter.name = name;
    adapter.ethernet = std::atoi(ReadLine(base + "type").c_str()) == kTypeEther;
    adapter.address = ParseHardwareAddress(ReadLine(base + "address"));
    if (auto found = gateways.find(name); found != gateways.end()) adapter.gateway = found->second;
    indexed.emplace_back(std::atoi(ReadLine(base + "ifindex").c_str()), std::move(adapter));
  }
  closedir(folder);
  std::sort(indexed.begin(), indexed.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<NetworkAdapter> adapters;
  for (auto& [index, adapter] : indexed) adapters.push_back(std::move(adapter));
  return adapters;
}

}  // namespace wardex::platform
