// VeStyler.so: the styler library that the graphics layer keeps loaded. Its
// one instance answers the suite's colours.
#include <mutex>

#include "wardex/ve_libraries.h"

namespace {

// Colours as red + green * 256 + blue * 65536; unknown elements are black.
constexpr uint32_t kColors[] = {
    0xFFFFFF,  // 0: window background
    0x202020,  // 1: text
    0xC07A1E,  // 2: accent
    0x2A7BD8,  // 3: warning
};

class VeStyler final : public wardex::IVeStyler {
 public:
  uint32_t GetColor(int32_t element) override {
    const bool known =
        element >= 0 && element < static_cast<int32_t>(sizeof(kColors) / sizeof(kColors[0]));
    return known ? kColors[element] : 0;
  }
};

std::mutex g_lock;
VeStyler* g_instance = nullptr;

}  // namespace

WARDEX_EXPORT wardex::IVeStyler* GetStylerInstance() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_instance == nullptr) g_instance = new VeStyler;
  return g_instance;
}

WARDEX_EXPORT void DestroyStylerInstance() {
  std::lock_guard<std::mutex> hold(g_lock);
  delete g_instance;
  g_instance = nullptr;
}
