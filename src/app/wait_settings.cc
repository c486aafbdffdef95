#include "app/wait_settings.h"

#include "config/install_config.h"

namespace wardex {
namespace {

constexpr char16_t kWaitsSection[] = u"Waits";

// The key's value when it is a whole number from 0 to |limit|, else |fallback|.
uint32_t ReadWait(const char16_t* key, uint32_t fallback, uint32_t limit) {
  const KaOSAL::KaString text = ReadInstallConfig(kWaitsSection, key, u"");
  if (text.IsEmpty() || text.GetLength() > 10) return fallback;
  uint64_t value = 0;
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t digit = text[i];
    if (digit < u'0' || digit > u'9') return fallback;
    value = value * 10 + static_cast<uint64_t>(digit - u'0');
  }
  return value <= limit ? static_cast<uint32_t>(value) : fallback;
}

}  // namespace

uint32_t FrameLoadRetryWaitMs() {
  constexpr uint32_t kDefault = 5000;
  return ReadWait(u"FrameLoadRetryMs", kDefault, kDefault);
}

uint32_t TrayIconRetryWaitMs() {
  constexpr uint32_t kDefault = 30000;
  return ReadWait(u"TrayIconRetryMs", kDefault, kDefault);
}

uint32_t MessageDialogWaitLimitMs() {
  constexpr uint32_t kDefaultSeconds = 3600;
  return ReadWait(u"MessageDialogLimitSeconds", kDefaultSeconds, kDefaultSeconds) * 1000;
}

}  // namespace wardex
