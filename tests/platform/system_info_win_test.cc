// The clocks, the system's version, the adapters and the known folders on
// Windows, each checked against a source the code does not read (the time
// servers' socket is the SNTP client tests').
#include "platform/windows_api.h"

#include <bit>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "osal/wide_format.h"
#include "platform/clock.h"
#include "platform/network_adapters.h"
#include "platform/os_version.h"
#include "platform/system_paths.h"

namespace wardex::platform {
namespace {

std::string Narrow(const KaOSAL::KaString& text) { return KaOSAL::ToUtf8(text.c_str()); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(SystemInfoWin, ClocksAgreeWithTheLibraryAndWithEachOther) {
  const auto library = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  const WallClock wall = CurrentWallClock();
  EXPECT_NEAR(static_cast<double>(wall.seconds * 1000 + wall.milliseconds),
              static_cast<double>(library), 1000.0);
  EXPECT_LT(wall.milliseconds, 1000u);

  ASSERT_GT(PerformanceFrequency(), 0);
  const int64_t start = PerformanceCounter();
  const uint64_t uptime_start = UptimeMilliseconds();
  Sleep(200);
  const int64_t elapsed_ms = (PerformanceCounter() - start) * 1000 / PerformanceFrequency();
  EXPECT_GE(elapsed_ms, 190);
  EXPECT_LT(elapsed_ms, 10'000);
  // The tick count moves in steps of the timer's period (16 ms on Windows,
  // more under Wine's shared page updates).
  EXPECT_GE(UptimeMilliseconds() - uptime_start, 150u);
  EXPECT_LE(static_cast<uint32_t>(UptimeMilliseconds()) - TickCount(), 1000u)
      << "the tick count is the uptime's low 32 bits";
}

TEST(SystemInfoWin, TheVersionIsTheOneTheSystemPublishes) {
  // The kernel's page shared with every process holds the true numbers
  // (GetVersionExW would report 6.2 to a program without a manifest); the
  // registry names the build.
  const auto* shared = reinterpret_cast<const volatile uint8_t*>(0x7FFE0000);
  const uint32_t major = *reinterpret_cast<const volatile uint32_t*>(shared + 0x26C);
  const uint32_t minor = *reinterpret_cast<const volatile uint32_t*>(shared + 0x270);
  wchar_t build[32] = {};
  DWORD size = sizeof(build);
  // The predefined key's value is sign-extended, as the system header does.
  const HKEY machine = reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<LONG>(0x80000002)));
  ASSERT_EQ(RegGetValueW(machine, L"Software\\Microsoft\\Windows NT\\CurrentVersion",
                         L"CurrentBuildNumber", RRF_RT_REG_SZ, nullptr, build, &size),
            ERROR_SUCCESS);
  const OsVersion version = GetOsVersion();
  EXPECT_EQ(version.kernel_name, "Windows NT");
  EXPECT_EQ(version.major, major);
  EXPECT_EQ(version.minor, minor);
  EXPECT_EQ(version.release,
            std::to_string(major) + "." + std::to_string(minor) + "." +
                KaOSAL::ToUtf8(reinterpret_cast<const char16_t*>(build), std::wcslen(build)));
  EXPECT_EQ(version.machine, "x64");
}

TEST(SystemInfoWin, AdaptersAreTheHostsInterfacesUnderWine) {
  // Wine lists the host's interfaces, which the Z: drive shows in
  // /sys/class/net with their routes in /proc/net/route. Windows has no such
  // second source.
  const std::filesystem::path host_net = "Z:/sys/class/net";
  if (!std::filesystem::is_directory(host_net)) GTEST_SKIP() << "not under Wine on Linux";
  std::map<std::string, std::string> first_gateway;  // by interface name
  std::ifstream routes("Z:/proc/net/route");
  std::string line;
  std::getline(routes, line);
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string name, destination;
    unsigned long gateway = 0, flags = 0;
    fields >> name >> destination >> std::hex >> gateway >> flags;
    if ((flags & 0x2) == 0) continue;  // no gateway
    first_gateway.emplace(
        name, std::to_string(gateway & 0xFF) + "." + std::to_string(gateway >> 8 & 0xFF) + "." +
                  std::to_string(gateway >> 16 & 0xFF) + "." + std::to_string(gateway >> 24));
  }
  std::map<std::string, std::pair<bool, std::string>> host;  // by hardware address
  for (const auto& entry : std::filesystem::directory_iterator(host_net)) {
    std::ifstream address_file(entry.path() / "address"), type_file(entry.path() / "type");
    std::string address, type;
    if (!std::getline(address_file, address) || address.empty() || address == "00:00:00:00:00:00") {
      continue;
    }
    std::getline(type_file, type);
    host[address] = {type == "1", first_gateway[entry.path().filename().string()]};
  }
  if (host.empty()) GTEST_SKIP() << "the host has no interface with a hardware address";
  std::map<std::string, std::pair<bool, std::string>> listed;
  for (const NetworkAdapter& adapter : GetNetworkAdapters()) {
    std::string text;
    char part[4];
    for (uint8_t byte : adapter.address) {
      std::snprintf(part, sizeof(part), text.empty() ? "%02x" : ":%02x", byte);
      text += part;
    }
    if (!text.empty() && text != "00:00:00:00:00:00") {
      listed[text] = {adapter.ethernet, adapter.gateway};
    }
  }
  EXPECT_EQ(listed, host);
}

TEST(SystemInfoWin, FoldersAreTheOnesTheEnvironmentNames) {
  const std::pair<KaOSAL::KaString (*)(), const char*> cases[] = {
      {GetCommonAppDataFolder, "ProgramData"},
      {GetUserStateFolder, "LOCALAPPDATA"},
      {GetUserCacheFolder, "LOCALAPPDATA"}};
  for (const auto& [folder, variable] : cases) {
    SCOPED_TRACE(variable);
    const char* expected = std::getenv(variable);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(Lower(Narrow(folder())), Lower(expected));
  }
  const std::string exe = Lower(Narrow(GetExecutableFilePath()));
  EXPECT_TRUE(exe.ends_with("system_info_tests.exe")) << exe;
  EXPECT_EQ(Lower(Narrow(GetModuleFilePathOf(std::bit_cast<const void*>(&Lower)))), exe);
  const void* in_kernel32 =
      std::bit_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Sleep"));
  EXPECT_TRUE(Lower(Narrow(GetModuleFilePathOf(in_kernel32))).ends_with("\\kernel32.dll"));
}

}  // namespace
}  // namespace wardex::platform
