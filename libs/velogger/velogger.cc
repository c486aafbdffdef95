// VeLogger.so: the logging library that the graphics layer keeps loaded. Its
// one instance forwards to the crash-and-log library, so lines from the
// suite's views end up in the agent's log.
#include <mutex>

#include "wardex/crashlog.h"
#include "wardex/ve_libraries.h"

namespace {

class VeLogger final : public wardex::IVeLogger {
 public:
  void Log(int32_t level, const char16_t* text) override { LogW(level, u"VeLogger: %s", text); }
};

std::mutex g_lock;
VeLogger* g_instance = nullptr;

}  // namespace

WARDEX_EXPORT wardex::IVeLogger* GetLoggerInstance() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_instance == nullptr) g_instance = new VeLogger;
  return g_instance;
}

WARDEX_EXPORT void DestroyLoggerInstance() {
  std::lock_guard<std::mutex> hold(g_lock);
  delete g_instance;
  g_instance = nullptr;
}
