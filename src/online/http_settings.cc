#include "online/http_settings.h"

#include "config/install_config.h"
#include "osal/wide_format.h"

namespace wardex {
namespace {

constexpr char16_t kSection[] = u"web";

std::string ReadText(const char16_t* key) {
  const KaOSAL::KaString value = ReadInstallConfig(kSection, key, u"");
  return KaOSAL::ToUtf8(value.c_str(), static_cast<size_t>(value.GetLength()));
}

// A positive number of milliseconds, or |fallback|.
uint32_t ReadMilliseconds(const char16_t* key, uint32_t fallback) {
  const int value = ReadInstallConfig(kSection, key, u"").ToInt();
  return value > 0 ? static_cast<uint32_t>(value) : fallback;
}

}  // namespace

platform::HttpSessionSettings ReadHttpSessionSettings() {
  platform::HttpSessionSettings settings;
  settings.test_ca_file = ReadText(u"test_ca_file");
  settings.test_loopback_name = ReadText(u"test_loopback_name");
  settings.connect_timeout_ms =
      ReadMilliseconds(u"test_connect_timeout_ms", settings.connect_timeout_ms);
  settings.stall_timeout_ms = ReadMilliseconds(u"test_stall_timeout_ms", settings.stall_timeout_ms);
  return settings;
}

}  // namespace wardex
