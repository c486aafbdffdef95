#include "platform/os_version.h"

#include <bit>
#include <string>

#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

// Without a manifest that names the newest system GetVersionExW reports 6.2
// on every later Windows; ntdll's RtlGetVersion tells the truth.
bool ReadVersion(RTL_OSVERSIONINFOW* info) {
  using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const auto get_version =
      std::bit_cast<RtlGetVersionFunction>(GetProcAddress(ntdll, "RtlGetVersion"));
  info->dwOSVersionInfoSize = sizeof(*info);
  return get_version != nullptr && get_version(info) == 0;
}

// The processor architecture by the names Windows gives it.
std::string MachineName() {
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return "x64";
    case PROCESSOR_ARCHITECTURE_INTEL:
      return "x86";
    case PROCESSOR_ARCHITECTURE_ARM64:
      return "ARM64";
    default:
      return "unknown";
  }
}

}  // namespace

OsVersion GetOsVersion() {
  OsVersion version;
  RTL_OSVERSIONINFOW info{};
  if (!ReadVersion(&info)) return version;
  version.kernel_name = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? "Windows NT" : "Windows";
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  version.release = std::to_string(info.dwMajorVersion) + "." +
                    std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
  version.machine = MachineName();
  return version;
}

}  // namespace wardex::platform
